// The file synchronizer of the 1.5 generation in the running program against an emulated device
// with a second volume: sessions started from the tray bring new, changed and deleted files across
// both ways, leave files no mask takes, ask the user about conflicts, stop at a device without
// room and on cancel, and a session after each finds nothing left to do.
#include "EmulatorSession.h" // winsock2.h before windows.h

#include "ComPtr.h"
#include "Handles.h"
#include "E2eSupport.h"
#include "FileSyncIds.h"
#include "LangIds.h"
#include "ZelvanMgr.h"
#include "testing/FileAge.h"
#include "ZvSyncFiles10.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <sstream>
#include <thread>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;
using filesync::testing::Age;
using devlink15::test::SharedEmulator;

constexpr int kSlot = 0;
constexpr DWORD kSessionTimeoutMs = 120000;
const char kDeviceId[] = "E2EFILESYNC1";
const char kShortId[] = "E2EF015";
const char kStrId[] = "@E2EF015";
const char kName[] = "Files15";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

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
        testDeviceRoot_ = UseOnlyEmulatedDevice("tvfilesync", kRegistration, kName);
        StoreScript(L"DeviceEvents", nullptr);
        ScheduleOnly(CLSID_ZvSyncFiles15, kStrId);

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
        CreateDirectoryA(pc_.c_str(), nullptr);
        const std::string state = kRegistration + "\\SyncDataBase";
        SetUserString(state, "SyncFolder", pc_);
        SetUserNumber(state, "dwAttribute", 0);
        SetUserString(state + "\\Masks", "Main\\docs\\*.txt", "");
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog())
            EXPECT_EQ(program_.Exit(), 0);
        if (problem_.empty()) {
            SharedEmulator().Unplug(kSlot, kDeviceId);
            ClearSchedules();
            ForgetEmulatedDevice(kRegistration, testDeviceRoot_);
        }
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

    // Runs one session from the tray; with `stopAfterMs` the Stop button is pressed that long
    // after Start. The session dialog's rows at the end.
    std::string Session(int stopAfterMs = -1, const char* shot = nullptr) {
        TraySession session;
        EXPECT_TRUE(session.Start(program_.MainDialog(), kName, kStrId));
        if (!session.Dialog())
            return "<no session>";
        if (stopAfterMs >= 0) {
            Sleep(static_cast<DWORD>(stopAfterMs));
            test::ClickButton(session.Dialog(), IDC_SYNC_STOP);
        }
        // The file synchronizer's row ends in a final state, then the session ends.
        const std::string rows = session.WaitForEnd("Files and folders", kSessionTimeoutMs);
        EXPECT_EQ(rows.rfind("<no end>", 0), std::string::npos) << rows;
        if (shot) {
            RedrawWindow(session.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            Sleep(300);
            test::SaveScreenshot(OutputFolder() + L"\\" + std::wstring(shot, shot + strlen(shot)));
        }
        EXPECT_TRUE(session.Close(kSessionTimeoutMs));
        return rows;
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
    static std::string Read(const std::string& path) {
        std::vector<uint8_t> bytes;
        if (!test::ReadWholeFile(test::Widen(path), bytes))
            return "<missing>";
        return std::string(bytes.begin(), bytes.end());
    }
    static void Write(const std::string& path, const std::string& text) {
        test::WriteWholeFile(test::Widen(path), std::vector<uint8_t>(text.begin(), text.end()));
    }

    static std::string problem_, testDeviceRoot_, device_, card_, pc_;
    static bool plugged_;
    static RunningProgram program_;
};
std::string FileSyncEndToEnd::problem_;
std::string FileSyncEndToEnd::testDeviceRoot_;
std::string FileSyncEndToEnd::device_;
std::string FileSyncEndToEnd::card_;
std::string FileSyncEndToEnd::pc_;
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
    const std::string rows = Session(-1, "filesync-first-session.bmp");
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
    std::atomic<int> answered{0};
    std::thread user([&] {
        for (int answer : {IDC_FILESYNC_DEVICE_WINS, IDC_FILESYNC_PC_WINS, IDC_FILESYNC_SKIP}) {
            HWND dialog = test::WaitForWindow(nullptr, L"File changed on both sides", kSessionTimeoutMs);
            if (!dialog)
                return;
            if (answered == 0) {
                Sleep(300);
                test::SaveScreenshot(OutputFolder() + L"\\filesync-conflict-dialog.bmp");
            }
            PostMessageW(dialog, WM_COMMAND, answer, 0);
            test::WaitForWindowGone(dialog, kSessionTimeoutMs);
            ++answered;
        }
    });
    Session();
    user.join();
    EXPECT_EQ(answered, 3);
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\a.txt"), "device a.txt");
    EXPECT_EQ(Read(device_ + "\\docs\\a.txt"), "device a.txt");
    EXPECT_EQ(Read(device_ + "\\docs\\b.txt"), "pc b.txt");
    EXPECT_EQ(Read(device_ + "\\docs\\c.txt"), "device c.txt");
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\c.txt"), "pc c.txt");
    // Settled: the device's copy of c wins by the device's rule, and then nothing is left.
    SetUserNumber(kRegistration, "ConflictResolution", SSR_REPLACE_ON_COMPUTER);
    Session();
    EXPECT_EQ(Read(pc_ + "\\Main\\docs\\c.txt"), "device c.txt");
    SetUserNumber(kRegistration, "ConflictResolution", SSR_MANUAL_RESOLUTION);
    CommandLog();
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

TEST_F(FileSyncEndToEnd, ADeviceWithoutRoomStopsTheTransfer) {
    Write(pc_ + "\\Main\\pc\\huge.bin", std::string(4 * 1024 * 1024, 'h'));
    const std::string rows = Session(-1, "filesync-no-room.bmp");
    EXPECT_NE(rows.find(LanguageText(IDS_FILESYNC_NO_ROOM)), std::string::npos) << rows;
    EXPECT_EQ(Read(device_ + "\\pc\\huge.bin"), "<missing>");
    DeleteFileA((pc_ + "\\Main\\pc\\huge.bin").c_str());
    CommandLog();
    Session();
    EXPECT_FALSE(Copied(CommandLog()));
}

TEST_F(FileSyncEndToEnd, CancelStopsTheSessionAndTheNextOneFinishes) {
    for (int i = 0; i < 6; ++i)
        Write(pc_ + "\\Main\\pc\\n" + std::to_string(i) + ".txt", std::string(20000, static_cast<char>('a' + i)));
    // Each command takes a while, so the Stop lands in the middle of the transfer.
    SharedEmulator().Request("fault " + std::to_string(kSlot) + " delay=300 count=40");
    Session(2500);
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
