// Backup and restore of an emulated 1.0 device in the running program, run by
// devlink10/tests/zvl10_e2e.sh after its other phases: the device answers on COM4 under the name
// Preset10 and its media are the sub-folders of "<prefix>/device-root", which this program reads
// from the PC side (drive Z:). The wizard that the tray's command opens backs the device up and
// restores it; cancels in the middle of both leave no set and a usable device.
#include "AnsiText.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "ProgramWizard.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;
using test::FileTree;

constexpr UINT kBackUpCommand = 0x4500; // the tray's back-up command of the first device
const char kName[] = "Preset10";
const char kStrId[] = "@ZV10E2E";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

void Shot(const std::string& name) {
    test::SaveScreenshot(OutputFolder() + L"\\backup10_" + com::FromAnsi(name) + L".bmp");
}

class Backup10EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        root_ = UseOnlyDevice10("tvbackup10", kRegistration, kName);
        if (root_.empty())
            return;
        sets_ = UseNewSetFolder("tvbackup10");

        // Files of every class on the main medium, besides what the earlier phases left.
        CreateDirectoryA((root_ + "\\a").c_str(), nullptr);
        std::string song;
        for (int i = 0; song.size() < 60000; ++i)
            song += "tune " + std::to_string(i * 7919 % 10007) + "\n";
        const struct {
            const char* path;
            std::string bytes;
        } seeds[] = {{"default\\notes.txt", "notes of the device\r\n"},
                     {"default\\song.mp3", song},
                     {"default\\game.app", std::string(3000, 'g')},
                     {"default\\settings.cfg", "volume=7\r\n"},
                     {"a\\card.txt", "card text\n"}};
        for (const auto& seed : seeds)
            seeded_ = test::WriteTimedFile(root_ + "\\" + seed.path, seed.bytes, 1300000000) && seeded_;
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        RemoveSetFolder(sets_);
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_FALSE(root_.empty()) << "no WINEPREFIX: run by devlink10/tests/zvl10_e2e.sh";
        ASSERT_TRUE(seeded_);
        ASSERT_FALSE(sets_.empty()) << "no folder for the sets";
        if (!program_.MainDialog()) {
            ASSERT_TRUE(AttachWithOneDevice(program_));
        }
        hub_ = ConnectHub();
        ASSERT_TRUE(hub_);
    }
    void TearDown() override {
        EXPECT_TRUE(test::WaitUntilHubFree(hub_.Get()));
        hub_.Reset();
    }

    test::ProgramWizard Wizard() const { return test::ProgramWizard(program_.MainDialog(), kBackUpCommand, Shot); }
    static std::vector<std::string> SetFiles() { return test::SetFilesIn(sets_); }
    void ChangeTheDevice() {
        ASSERT_TRUE(test::WriteTimedFile(root_ + "\\default\\notes.txt", "changed on the device", 1600000000));
        ASSERT_TRUE(DeleteFileA((root_ + "\\default\\song.mp3").c_str()));
        ASSERT_TRUE(DeleteFileA((root_ + "\\a\\card.txt").c_str()));
        hub_->Refresh();
    }

    static std::string root_, sets_;
    static bool seeded_;
    static ComStartedProgram program_;
    static FileTree backedUp_;
    ComPtr<IZelvanMgr> hub_;
};
std::string Backup10EndToEnd::root_;
std::string Backup10EndToEnd::sets_;
bool Backup10EndToEnd::seeded_ = true;
ComStartedProgram Backup10EndToEnd::program_;
FileTree Backup10EndToEnd::backedUp_;

TEST_F(Backup10EndToEnd, TheWizardBacksUpTheDeviceAndRestoresItsFilesAndBytes) {
    const FileTree before = test::ReadFileTree(root_);
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartBackup(user, "first set", "backup"));
        ASSERT_TRUE(Wizard().Finish(user, "backup", 180000));
    }
    EXPECT_EQ(SetFiles(), std::vector<std::string>{"first set.zbk"});
    backedUp_ = test::ReadFileTree(root_);
    // The backup left the device as it was.
    EXPECT_EQ(test::TreeDifferences(before, backedUp_), "");

    ChangeTheDevice();
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartRestore(user, "restore"));
        ASSERT_TRUE(Wizard().Finish(user, "restore", 180000));
    }
    EXPECT_EQ(test::TreeDifferences(test::BytesOnly(backedUp_), test::BytesOnly(test::ReadFileTree(root_))), "");
}

TEST_F(Backup10EndToEnd, ACancelInTheMiddleOfABackupLeavesNoSet) {
    ASSERT_FALSE(backedUp_.empty());
    std::string status;
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartBackup(user, "cancelled set", "backup_cancel"));
        ASSERT_TRUE(Wizard().CancelInTheMiddle(user, "backup_cancel", status));
    }
    EXPECT_NE(status.find("cancelled"), std::string::npos) << status;
    EXPECT_EQ(SetFiles(), std::vector<std::string>{"first set.zbk"});
}

TEST_F(Backup10EndToEnd, ACancelInTheMiddleOfARestoreLeavesTheDeviceUsable) {
    ASSERT_FALSE(backedUp_.empty());
    ChangeTheDevice();
    std::string status;
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartRestore(user, "restore_cancel"));
        ASSERT_TRUE(Wizard().CancelInTheMiddle(user, "restore_cancel", status));
    }
    EXPECT_NE(status.find("cancelled"), std::string::npos) << status;

    // The device lists, and a file copies off it with its bytes.
    std::string medium = std::string(kName) + "\\Device Flash";
    const std::vector<std::string> names = test::ListedNames(hub_.Get(), medium);
    EXPECT_NE(std::find(names.begin(), names.end(), "notes.txt"), names.end());
    ComPtr<RecordingCallback> callback;
    ASSERT_EQ(com::MakeComObject(callback), S_OK);
    std::string source = medium + "\\notes.txt", target = "C:\\zvl10\\notes-after-cancel.txt";
    LPSTR sources[] = {source.data()}, targets[] = {target.data()};
    ASSERT_EQ(hub_->CopyFileItems(1, MAX_PATH, sources, targets, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(ReadFile(target), ReadFile(root_ + "\\default\\notes.txt"));

    // A whole restore afterwards gives back the backup.
    {
        test::WizardUser user;
        ASSERT_TRUE(Wizard().StartRestore(user, "restore_again"));
        ASSERT_TRUE(Wizard().Finish(user, "restore_again", 180000));
    }
    EXPECT_EQ(test::TreeDifferences(test::BytesOnly(backedUp_), test::BytesOnly(test::ReadFileTree(root_))), "");
}

} // namespace
} // namespace tv::e2e
