// The file synchronizer of the 1.0 generation in the running program against an emulated 1.0
// device, run by devlink10/tests/zvl10_e2e.sh (its file synchronization phase): the device
// answers on COM4 under the name Preset10, its media "Device Flash" and "Memory Card" are the
// folders default and a of "<prefix>\device-root", which this program reads and changes from the
// PC side, and the device's console commands are appended to "<prefix>\commands.log".
//
// Two runs of the script (ctest entries of their own, the 1.0 link being slow), each in a fresh
// prefix. FileSync10Sessions: sessions from the tray bring new, changed and deleted files across
// both ways, take only the device files the masks name, copy to the device only into media it
// has, and ask the user about conflicts. FileSync10Limits: sessions stop at a device without
// room and on cancel; then FileSync10AfterZoneChange runs in a time zone that began daylight
// saving since: a session copies nothing and finds no conflict. After each step both sides hold
// exactly the expected files and a session finds nothing to do.
#include "E2eSupport.h"
#include "FileSyncIds.h"
#include "ZelvanMgr.h"
#include "ZvSyncFiles10.h"
#include "testing/FileAge.h"
#include "testing/FileSyncSessions.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

namespace tv::e2e {
namespace {

using filesync::testing::Age;
using filesync::testing::ContentDifferences;
using filesync::testing::Contents;
using filesync::testing::Read;
using filesync::testing::Write;

const filesync::testing::SessionDevice kDevice{"Preset10", "@ZV10E2E", "Files"};
const char kPcFolder[] = "C:\\zvl10\\pcfiles";

// The prefix's folders as this program reaches them: "Z:" and the prefix path.
std::string PrefixPath(const char* name) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix)
        return {};
    std::string path = std::string("Z:") + prefix + "\\" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The program, with the device found, for one suite.
class ProgramWithDevice {
public:
    testing::AssertionResult Start() {
        if (program_.MainDialog())
            return testing::AssertionSuccess();
        if (!program_.Start())
            return testing::AssertionFailure() << "the program did not start";
        // The factory probes the serial ports in rounds 5 s apart.
        if (!WaitUntil([] { return HubDeviceCount() == 1; }, 40000))
            return testing::AssertionFailure() << "the program did not find the device";
        return testing::AssertionSuccess();
    }
    void Exit() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
    }
    HWND MainDialog() const { return program_.MainDialog(); }

private:
    RunningProgram program_;
};

// The device's console commands logged since the last call.
class CommandLog {
public:
    std::string Take() {
        const std::string log = ReadFile(PrefixPath("commands.log"));
        const std::string added = log.size() >= seen_ ? log.substr(seen_) : log;
        seen_ = log.size();
        return added;
    }
    bool Copied() {
        const std::string log = Take();
        return log.find(" rcv ") != std::string::npos || log.find(" upl ") != std::string::npos;
    }

private:
    size_t seen_ = 0;
};

// Answers the message box of a PC file whose device medium is missing, once it comes.
class MissingMediumUser {
public:
    MissingMediumUser() {
        thread_ = std::thread([this] {
            const std::string caption = filesync::testing::LanguageText(IDS_FILESYNC_CAPTION);
            HWND box = test::WaitForWindow(L"#32770", std::wstring(caption.begin(), caption.end()).c_str(), 120000);
            if (!box)
                return;
            char text[512] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            text_ = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            test::WaitForWindowGone(box, 20000);
        });
    }
    ~MissingMediumUser() { Join(); }
    std::string Join() {
        if (thread_.joinable())
            thread_.join();
        return text_;
    }

private:
    std::string text_;
    std::thread thread_;
};

class FileSync10EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        root_ = PrefixPath("device-root");
        if (root_.empty())
            return;
        flash_ = root_ + "\\default";
        card_ = root_ + "\\a";
        CreateDirectoryA(card_.c_str(), nullptr);
        CreateDirectoryA(kPcFolder, nullptr);
        CreateDirectoryA((std::string(kPcFolder) + "\\Device Flash").c_str(), nullptr);
        setting_ = std::make_unique<filesync::testing::FileSyncSetting>(
            kDevice, CLSID_ZvSyncFiles10, kPcFolder, std::vector<std::string>{"Device Flash\\*.txt", "Memory Card\\*"},
            "tvfilesync10");
    }
    static void TearDownTestSuite() {
        program_.Exit();
        // The device's setting and stored state stay for the suite that follows the zone change.
        if (setting_)
            setting_->KeepDevice();
        setting_.reset();
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_FALSE(root_.empty()) << "no WINEPREFIX: run by devlink10/tests/zvl10_e2e.sh";
        ASSERT_TRUE(program_.Start());
    }

    static std::string Session(const std::function<bool()>& stopWhen = {}, const char* shot = nullptr) {
        return filesync::testing::RunSession(program_.MainDialog(), kDevice, stopWhen, shot);
    }
    // Both sides hold exactly what the test expects.
    void ExpectContents() {
        EXPECT_EQ(ContentDifferences(root_, device_), "") << "on the device";
        EXPECT_EQ(ContentDifferences(kPcFolder, pc_), "") << "on the PC";
    }
    // A session finds nothing left to copy.
    void ExpectNothingLeft() {
        log_.Take();
        Session();
        EXPECT_FALSE(log_.Copied());
    }
    // Files written on either side are dated in the past, minutes from now: the times that the
    // files keep must lie before the zone change that the last suite follows (the device gives
    // a file it receives the time of its writing).
    void WriteOnDevice(const std::string& name, const std::string& bytes, int minutes) {
        Write(root_ + "\\" + name, bytes);
        Age(root_ + "\\" + name, minutes);
        device_[name] = bytes;
    }
    void WriteOnPc(const std::string& name, const std::string& bytes, int minutes) {
        Write(std::string(kPcFolder) + "\\" + name, bytes);
        Age(std::string(kPcFolder) + "\\" + name, minutes);
        pc_[name] = bytes;
    }

    static std::string root_, flash_, card_;
    static std::unique_ptr<filesync::testing::FileSyncSetting> setting_;
    static ProgramWithDevice program_;
    // What each side should hold, by path below the device's root and the PC folder.
    static Contents device_, pc_;
    CommandLog log_;
};
std::string FileSync10EndToEnd::root_;
std::string FileSync10EndToEnd::flash_;
std::string FileSync10EndToEnd::card_;
std::unique_ptr<filesync::testing::FileSyncSetting> FileSync10EndToEnd::setting_;
ProgramWithDevice FileSync10EndToEnd::program_;
Contents FileSync10EndToEnd::device_;
Contents FileSync10EndToEnd::pc_;

class FileSync10Sessions : public FileSync10EndToEnd {};
class FileSync10Limits : public FileSync10EndToEnd {};

TEST_F(FileSync10Sessions, NewFilesCrossBothWaysIntoTheDevicesMediaAndMasksChooseTheDeviceFiles) {
    // The device: text files the masks take, a song they leave, a card file.
    for (const char* name : {"notes.txt", "a.txt", "b.txt", "c.txt"})
        WriteOnDevice(std::string("default\\") + name, std::string("device ") + name, -120);
    WriteOnDevice("default\\song.mp3", std::string(700, 's'), -120);
    WriteOnDevice("a\\card.txt", "card text", -120);
    // The PC: a file for the main medium, one in a folder that is no medium of the device, one
    // below the second level (the 1.0 generation keeps one level of folders).
    for (const char* folder : {"Device Flash", "Device Flash\\deep", "Elsewhere"})
        CreateDirectoryA((std::string(kPcFolder) + "\\" + folder).c_str(), nullptr);
    WriteOnPc("Device Flash\\mine.dat", std::string(3000, 'm'), -120);
    WriteOnPc("Device Flash\\deep\\skip.txt", "too deep", -120);
    WriteOnPc("Elsewhere\\stray.txt", "no medium", -120);

    std::string rows;
    {
        MissingMediumUser user;
        rows = Session({}, "filesync10-first-session.bmp");
        EXPECT_NE(user.Join().find("Elsewhere\\stray.txt"), std::string::npos);
    }
    EXPECT_NE(rows.find("Files: Synchronized"), std::string::npos) << rows;
    for (const char* name : {"notes.txt", "a.txt", "b.txt", "c.txt"})
        pc_[std::string("Device Flash\\") + name] = device_[std::string("default\\") + name];
    pc_["Memory Card\\card.txt"] = device_["a\\card.txt"];
    device_["default\\mine.dat"] = pc_["Device Flash\\mine.dat"];
    ExpectContents();

    // Without the stray file a second session finds nothing to copy.
    DeleteFileA((std::string(kPcFolder) + "\\Elsewhere\\stray.txt").c_str());
    pc_.erase("Elsewhere\\stray.txt");
    ExpectNothingLeft();
    ExpectContents();
}

TEST_F(FileSync10Sessions, ChangesAndDeletionsOnEitherSideAreBroughtAcross) {
    WriteOnDevice("default\\notes.txt", "notes changed on the device", -60);
    WriteOnPc("Memory Card\\card.txt", "card changed on the pc", -60);
    // Deletions are not carried over: the other side's copy comes back.
    DeleteFileA((flash_ + "\\mine.dat").c_str());
    DeleteFileA((std::string(kPcFolder) + "\\Device Flash\\a.txt").c_str());
    Session();
    pc_["Device Flash\\notes.txt"] = device_["default\\notes.txt"];
    device_["a\\card.txt"] = pc_["Memory Card\\card.txt"];
    ExpectContents();
    ExpectNothingLeft();
}

TEST_F(FileSync10Sessions, TheConflictDialogDecidesEachFile) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        WriteOnDevice(std::string("default\\") + name, std::string("device changed ") + name, -90);
        WriteOnPc(std::string("Device Flash\\") + name, std::string("pc changed ") + name, -80);
    }
    // The user keeps the device's a, the PC's b and skips c.
    filesync::testing::ConflictUser user({IDC_FILESYNC_DEVICE_WINS, IDC_FILESYNC_PC_WINS, IDC_FILESYNC_SKIP});
    Session();
    EXPECT_EQ(user.Join(), 3);
    pc_["Device Flash\\a.txt"] = device_["default\\a.txt"];
    device_["default\\b.txt"] = pc_["Device Flash\\b.txt"];
    ExpectContents();
    // Settled by the device's rule: the device's copy of c wins; then nothing is left.
    SetUserNumber(kDevice.Registration(), "ConflictResolution", SSR_REPLACE_ON_COMPUTER);
    Session();
    SetUserNumber(kDevice.Registration(), "ConflictResolution", SSR_MANUAL_RESOLUTION);
    pc_["Device Flash\\c.txt"] = device_["default\\c.txt"];
    ExpectContents();
    ExpectNothingLeft();
}

TEST_F(FileSync10Limits, CancelStopsTheSessionAndTheNextOneFinishes) {
    constexpr size_t kSize = 40000;
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        names.push_back("n" + std::to_string(i) + ".txt");
        WriteOnPc("Device Flash\\" + names.back(), std::string(kSize, static_cast<char>('a' + i)), -30);
    }
    auto landed = [&] {
        return static_cast<int>(std::count_if(names.begin(), names.end(), [&](const std::string& name) {
            return Read(flash_ + "\\" + name).size() == kSize;
        }));
    };
    // Stop while the first file is sent (its copy takes seconds on the 1.0 link).
    log_.Take();
    std::string sent;
    const std::string rows = Session([&] {
        sent += log_.Take();
        return sent.find(" rcv ") != std::string::npos;
    });
    // The cancelled copy ends the phase with its error, or the stop comes between two items.
    EXPECT_TRUE(rows.find("Files: Error: " + filesync::testing::LanguageText(IDS_FILESYNC_COPY_INCOMPLETE)) !=
                    std::string::npos ||
                rows.find("Files: Stopped") != std::string::npos)
        << rows;
    EXPECT_LT(landed(), 3) << "the stop came after the last copy";
    // The file whose copy the stop cut short may be on both sides without a record: if the next
    // session asks, the PC's copy is kept.
    {
        filesync::testing::ConflictUser user({IDC_FILESYNC_PC_WINS});
        Session();
        user.Stop();
        EXPECT_LE(user.Join(), 1);
    }
    for (const std::string& name : names)
        device_["default\\" + name] = pc_["Device Flash\\" + name];
    ExpectContents();
    ExpectNothingLeft();
}

TEST_F(FileSync10Limits, ADeviceWithoutRoomStopsTheTransfer) {
    // More than the whole medium holds (2043 blocks of 512 bytes).
    const std::string huge = std::string(kPcFolder) + "\\Device Flash\\huge.bin";
    Write(huge, std::string(1100000, 'h'));
    Age(huge, -30);
    log_.Take();
    const std::string rows = Session({}, "filesync10-no-room.bmp");
    EXPECT_NE(rows.find(filesync::testing::LanguageText(IDS_FILESYNC_NO_ROOM)), std::string::npos) << rows;
    EXPECT_FALSE(log_.Copied());
    EXPECT_EQ(Read(flash_ + "\\huge.bin"), "<missing>");
    DeleteFileA(huge.c_str());
    Session();
    EXPECT_FALSE(log_.Copied());
    ExpectContents();
}

// After the zone change: the files' local times are those of the first run (the zone's rules at
// their dates are unchanged), only today's offset differs.
TEST(FileSync10AfterZoneChange, ASessionCopiesNothingAndFindsNoConflict) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        const std::string root = PrefixPath("device-root");
        ASSERT_FALSE(root.empty()) << "no WINEPREFIX: run by devlink10/tests/zvl10_e2e.sh";
        const auto only = filesync::testing::FileSyncSetting::OnlySynchronizer(CLSID_ZvSyncFiles10);
        const test::FileTree device = test::ReadFileTree(root), pc = test::ReadFileTree(kPcFolder);
        ASSERT_FALSE(device.empty());
        CommandLog log;
        log.Take();
        ProgramWithDevice program;
        ASSERT_TRUE(program.Start());
        // The script's zone begins daylight saving within a minute of this program's start.
        ASSERT_TRUE(WaitUntil(
            [] {
                TIME_ZONE_INFORMATION zone = {};
                return GetTimeZoneInformation(&zone) == TIME_ZONE_ID_DAYLIGHT;
            },
            75000))
            << "the zone does not observe daylight saving now";
        // A conflict would bring up the dialog: it is answered with a skip and counted.
        filesync::testing::ConflictUser user({IDC_FILESYNC_SKIP});
        const std::string rows = filesync::testing::RunSession(program.MainDialog(), kDevice);
        EXPECT_NE(rows.find("Files: Synchronized"), std::string::npos) << rows;
        EXPECT_FALSE(log.Copied());
        program.Exit();
        // Neither side changed, not even a file's time.
        EXPECT_EQ(test::TreeDifferences(device, test::ReadFileTree(root)), "");
        EXPECT_EQ(test::TreeDifferences(pc, test::ReadFileTree(kPcFolder)), "");
        user.Stop();
        EXPECT_EQ(user.Join(), 0);
    }
    CoUninitialize();
}

} // namespace
} // namespace tv::e2e
