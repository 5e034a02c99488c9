// The file synchronizer of the 1.5 generation in the running program against an emulated device
// with a second volume: sessions started from the tray bring new, changed and deleted files across
// both ways, leave files no mask takes, ask the user about conflicts, stop at a device without
// room and on cancel, and a session after each finds nothing left to do.
#include "EmulatorSession.h" // winsock2.h before windows.h

#include "ComPtr.h"
#include "E2eSupport.h"
#include "FileSyncIds.h"
#include "ZelvanMgr.h"
#include "ZvSyncFiles10.h"
#include "testing/FileAge.h"
#include "testing/FileSyncSessions.h"
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;
using devlink15::test::SharedEmulator;
using filesync::testing::Age;
using filesync::testing::Read;
using filesync::testing::Write;

constexpr int kSlot = 0;
const char kDeviceId[] = "E2EFILESYNC1";
const char kShortId[] = "E2EF015";
const filesync::testing::SessionDevice kDevice{"Files15", "@E2EF015", "Files and folders"};

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

class FileSyncEndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        problem_ = SharedEmulator().Problem();
        if (!problem_.empty())
            return;
        // The device: main volume and the second volume "Card", 3 MiB each.
        const std::wstring volume = SharedEmulator().VolumeWindowsPath(kSlot);
        const std::wstring slot = volume.substr(0, volume.rfind(L'\\'));
        for (const std::wstring& folder : {slot, volume, slot + L"\\card"})
            CreateDirectoryW(folder.c_str(), nullptr);
        device_ = Narrow(volume);
        card_ = Narrow(slot + L"\\card");
        plugged_ = SharedEmulator().Plug(kSlot, kDeviceId, kShortId, "labels=card:Card capacity=3145728") >= 0;

        // The PC folder and the masks: Main\docs\*.txt is taken, Card\* always.
        pc_ = Narrow(SharedEmulator().ScratchWindowsPath()) + "\\pcfiles";
        setting_ = std::make_unique<filesync::testing::FileSyncSetting>(
            kDevice, CLSID_ZvSyncFiles15, pc_, std::vector<std::string>{"Main\\docs\\*.txt"}, "tvfilesync");
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        if (problem_.empty())
            SharedEmulator().Unplug(kSlot, kDeviceId);
        setting_.reset();
        CoUninitialize();
    }
    void SetUp() override {
        if (!problem_.empty()) {
            if (devlink15::test::DevicesRequired())
                FAIL() << problem_;
            GTEST_SKIP() << problem_;
        }
        ASSERT_TRUE(plugged_);
        if (!program_.MainDialog()) {
            ASSERT_TRUE(program_.Start());
            ComPtr<IZelvanMgr> hub = ConnectHub();
            ASSERT_TRUE(hub);
            ASSERT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 20000));
        }
    }

    // One session from the tray; the session dialog's rows at its end.
    std::string Session(const std::function<bool()>& stopWhen = {}, const char* shot = nullptr) {
        return filesync::testing::RunSession(program_.MainDialog(), kDevice, stopWhen, shot);
    }
    // The console commands the device received since the last call.
    static std::string CommandLog() {
        std::string log = SharedEmulator().Request("log " + std::to_string(kSlot));
        SharedEmulator().Request("clearlog " + std::to_string(kSlot));
        return log;
    }
    static bool Copied(const std::string& log) {
        return log.find("rcv ") != std::string::npos || log.find("upl ") != std::string::npos;
    }
    static std::string problem_, device_, card_, pc_;
    static std::unique_ptr<filesync::testing::FileSyncSetting> setting_;
    static bool plugged_;
    static RunningProgram program_;
};
std::string FileSyncEndToEnd::problem_;
std::string FileSyncEndToEnd::device_;
std::string FileSyncEndToEnd::card_;
std::string FileSyncEndToEnd::pc_;
std::unique_ptr<filesync::testing::FileSyncSetting> FileSyncEndToEnd::setting_;
bool FileSyncEndToEnd::plugged_ = false;
RunningProgram FileSyncEndToEnd::program_;

TEST_F(FileSyncEndToEnd, NewFilesCrossBothWaysAndMasksChooseTheDeviceFiles) {
    CreateDirectoryA((device_ + "\\docs").c_str(), nullptr);
    CreateDirectoryA((device_ + "\\other").c_str(), nullptr);
    Write(device_ + "\\docs\\keep.txt", "kept from the device");
    Write(device_ + "\\docs\\picture.bmp", "no mask takes this");
    Write(device_ + "\\other\\loose.txt", "nor this");
    Write(card_ + "\\card.txt", "every card file comes");
    for (const std::string& folder : {pc_ + "\\Main", pc_ + "\\Main\\pc", pc_ + "\\Main\\pc\\deep"})
        CreateDirectoryA(folder.c_str(), nullptr);
    Write(pc_ + "\\Main\\pc\\deep\\mine.dat", std::string(3000, 'm'));
    CommandLog();
    const std::string rows = Session({}, "filesync-first-session.bmp");
    EXPECT_NE(rows.find(": Synchronized"), std::string::npos) << rows;
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\keep.txt"), "kept from the device");
    EXPECT_EQ(Read(pc_ + "\\Card\\card.txt"), "every card file comes");
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\picture.bmp"), "<missing>");
    EXPECT_EQ(Read(pc_ + "\\Main\\other\\loose.txt"), "<missing>");
    EXPECT_EQ(Read(device_ + "\\pc\\deep\\mine.dat"), std::string(3000, 'm'));
    // After each copy the synchronizer waited for the device's "@" line.
    const std::string log = CommandLog();
    EXPECT_NE(log.find("id "), std::string::npos) << log;

    // A second session finds nothing to copy.
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

TEST_F(FileSyncEndToEnd, ChangesAndDeletionsOnEitherSideAreBroughtAcross) {
    Write(pc_ + "\\Main\\docs\\keep.txt", "changed on the pc");
    Age(pc_ + "\\Main\\docs\\keep.txt", 5);
    Write(card_ + "\\card.txt", "changed on the device");
    Age(card_ + "\\card.txt", 5);
    DeleteFileA((device_ + "\\pc\\deep\\mine.dat").c_str());
    Session();
    EXPECT_EQ(Read(device_ + "\\docs\\keep.txt"), "changed on the pc");
    EXPECT_EQ(Read(pc_ + "\\Card\\card.txt"), "changed on the device");
    EXPECT_EQ(Read(device_ + "\\pc\\deep\\mine.dat"), std::string(3000, 'm'));
    CommandLog();
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

TEST_F(FileSyncEndToEnd, TheConflictDialogDecidesEachFile) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        Write(device_ + "\\docs\\" + name, "first");
    Session();
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        Write(device_ + "\\docs\\" + name, std::string("device ") + name);
        Age(device_ + "\\docs\\" + name, 3);
        Write(pc_ + "\\Main\\docs\\" + name, std::string("pc ") + name);
        Age(pc_ + "\\Main\\docs\\" + name, 7);
    }
    // The user keeps the device's a, the PC's b and skips c.
    filesync::testing::ConflictUser user({IDC_FILESYNC_DEVICE_WINS, IDC_FILESYNC_PC_WINS, IDC_FILESYNC_SKIP},
                                         "filesync-conflict-dialog.bmp");
    Session();
    EXPECT_EQ(user.Join(), 3);
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\a.txt"), "device a.txt");
    EXPECT_EQ(Read(device_ + "\\docs\\a.txt"), "device a.txt");
    EXPECT_EQ(Read(device_ + "\\docs\\b.txt"), "pc b.txt");
    EXPECT_EQ(Read(device_ + "\\docs\\c.txt"), "device c.txt");
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\c.txt"), "pc c.txt");
    // Settled: the device's copy of c wins by the device's rule, and then nothing is left.
    SetUserNumber(kDevice.Registration(), "ConflictResolution", SSR_REPLACE_ON_COMPUTER);
    Session();
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\c.txt"), "device c.txt");
    SetUserNumber(kDevice.Registration(), "ConflictResolution", SSR_MANUAL_RESOLUTION);
    CommandLog();
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

TEST_F(FileSyncEndToEnd, ADeviceWithoutRoomStopsTheTransfer) {
    Write(pc_ + "\\Main\\pc\\huge.bin", std::string(4 * 1024 * 1024, 'h'));
    const std::string rows = Session({}, "filesync-no-room.bmp");
    EXPECT_NE(rows.find(filesync::testing::LanguageText(IDS_FILESYNC_NO_ROOM)), std::string::npos) << rows;
    EXPECT_EQ(Read(device_ + "\\pc\\huge.bin"), "<missing>");
    DeleteFileA((pc_ + "\\Main\\pc\\huge.bin").c_str());
    CommandLog();
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

TEST_F(FileSyncEndToEnd, CancelStopsTheSessionAndTheNextOneFinishes) {
    for (int i = 0; i < 6; ++i)
        Write(pc_ + "\\Main\\pc\\n" + std::to_string(i) + ".txt", std::string(20000, static_cast<char>('a' + i)));
    // Each command takes a while, so the Stop, pressed once the first file is on the device,
    // lands in the middle of the transfer.
    SharedEmulator().Request("fault " + std::to_string(kSlot) + " delay=300 count=40");
    Session([&] {
        for (int i = 0; i < 6; ++i)
            if (Read(device_ + "\\pc\\n" + std::to_string(i) + ".txt").size() == 20000)
                return true;
        return false;
    });
    SharedEmulator().Request("clear " + std::to_string(kSlot));
    Session();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Read(device_ + "\\pc\\n" + std::to_string(i) + ".txt"),
                  std::string(20000, static_cast<char>('a' + i)));
    CommandLog();
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

} // namespace
} // namespace tv::e2e
