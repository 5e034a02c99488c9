// A 1.5 device end to end: the emulator plugs it, the program (started by COM) finds it through
// the real device factory, a script client and this program work with its files through the hub,
// the device receives the console commands the device object is meant to send, and unplugging
// and replugging take it out of the program and bring it back.
#include "EmulatorSession.h" // winsock2.h before windows.h

#include "ComObject.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "TransferSequences.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <algorithm>
#include <functional>
#include <sstream>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;
using devlink15::test::SharedEmulator;

constexpr int kSlot = 0;
const char kDeviceId[] = "E2E15DEVICE1";
const char kShortId[] = "E2E0015";
const char kStrId[] = "@E2E0015";
const char kName[] = "Pocket15";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The notification area of Wine's desktop (its bottom right corner), as pixels.
std::vector<uint8_t> TrayPixels() {
    const int width = 160, height = 32;
    return test::CaptureScreen(GetSystemMetrics(SM_CXSCREEN) - width, GetSystemMetrics(SM_CYSCREEN) - height,
                               width, height);
}

// One program and one plugged device for the whole suite; the tests run in order and each starts
// from what the one before left on the device.
class Device15EndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        problem_ = SharedEmulator().Problem();
        if (!problem_.empty())
            return;
        // No folder-backed test devices: the program's only device is the emulated one, which
        // the PC knows already (no naming dialog).
        testDeviceRoot_ = UseOnlyEmulatedDevice("tve2e15", kRegistration, kName);
        SetUserNumber(kRegistration, "DisconnectionAlert", 1);
        marker_ = "event15 " + std::to_string(GetTickCount());
        ASSERT_TRUE(StoreScript(L"DeviceEvents", DeviceEventsScript(marker_).c_str()));

        // The device holds docs\a.txt and docs\old\b.txt on its main volume, and has a second
        // volume Card.
        const std::wstring volume = SharedEmulator().VolumeWindowsPath(kSlot);
        const std::wstring slot = volume.substr(0, volume.rfind(L'\\'));
        for (const std::wstring& folder :
             {slot, volume, volume + L"\\docs", volume + L"\\docs\\old", slot + L"\\card"})
            CreateDirectoryW(folder.c_str(), nullptr);
        test::WriteWholeFile(volume + L"\\docs\\a.txt", test::Pattern(700, 3));
        test::WriteWholeFile(volume + L"\\docs\\old\\b.txt", test::Pattern(50, 4));
        plugged_ = SharedEmulator().Plug(kSlot, kDeviceId, kShortId, "labels=card:Card") >= 0;

        // The PC side: the tree b (f.txt, sub\g.txt) and a read-only hidden a.txt.
        pc_ = Narrow(SharedEmulator().ScratchWindowsPath());
        out_ = pc_ + "\\out";
        for (const std::string& folder : {pc_ + "\\b", pc_ + "\\b\\sub", out_})
            CreateDirectoryA(folder.c_str(), nullptr);
        test::WriteWholeFile(test::Widen(pc_ + "\\b\\f.txt"), test::Pattern(600, 1));
        test::WriteWholeFile(test::Widen(pc_ + "\\b\\sub\\g.txt"), test::Pattern(3000, 2));
        test::WriteWholeFile(test::Widen(pc_ + "\\a.txt"), test::Pattern(1000, 5));
        SetFileAttributesA((pc_ + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        if (problem_.empty()) {
            SharedEmulator().Unplug(kSlot, kDeviceId);
            StoreScript(L"DeviceEvents", nullptr);
            ForgetEmulatedDevice(kRegistration, testDeviceRoot_);
            if (!pc_.empty())
                SetFileAttributesA((pc_ + "\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
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
    }

    static ComPtr<IZelvanMgr> Hub() {
        ComPtr<IZelvanMgr> hub = ConnectHub();
        EXPECT_TRUE(hub);
        return hub;
    }
    static bool LogHas(const std::string& text) { return SharedLogText().find(text) != std::string::npos; }

    // Calls `visit` with each item the hub lists for the path.
    void ForEachItem(const std::string& path, const std::function<void(const ZVFILEITEM&)>& visit) {
        ComPtr<IZvEnumFileItems> items;
        std::string text = path;
        EXPECT_EQ(Hub()->EnumFileItems(text.data(), 31, &items), S_OK);
        ZVFILEITEM item{};
        LONG fetched = 0;
        while (items && items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            visit(item);
            CoTaskMemFree(item.strName);
            CoTaskMemFree(item.strDesc);
            CoTaskMemFree(item.strIconFile);
        }
    }
    // The items of a hub path, sorted, each as its name and, when asked, "|attr|size".
    std::vector<std::string> List(const std::string& path, bool details = false) {
        std::vector<std::string> names;
        ForEachItem(path, [&](const ZVFILEITEM& item) {
            names.push_back(
                std::string(item.strName ? item.strName : "") +
                (details ? "|" + std::to_string(item.attr) + "|" + std::to_string(item.nSize) : ""));
        });
        std::sort(names.begin(), names.end());
        return names;
    }
    // The time the device lists for an item of a folder.
    FILETIME ListedTime(const std::string& folder, const std::string& name) {
        FILETIME time{};
        ForEachItem(folder, [&](const ZVFILEITEM& item) {
            if (item.strName && name == item.strName)
                time = {static_cast<DWORD>(item.nTimeLow), static_cast<DWORD>(item.nTimeHigh)};
        });
        return time;
    }

    // The console commands the device received since the last call, without the log's indexes.
    static std::vector<std::string> CommandLog() {
        std::istringstream answer(SharedEmulator().Request("log " + std::to_string(kSlot)));
        std::string line;
        std::getline(answer, line); // "ok <n>"
        std::vector<std::string> lines;
        while (std::getline(answer, line))
            lines.push_back(line.substr(line.find(' ') + 1));
        SharedEmulator().Request("clearlog " + std::to_string(kSlot));
        return lines;
    }
    static std::string Joined(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        return text;
    }
    // Whether `run` occurs in `log` as consecutive commands.
    static bool HasRun(const std::vector<std::string>& log, const std::vector<std::string>& run) {
        return std::search(log.begin(), log.end(), run.begin(), run.end()) != log.end();
    }

    static std::string problem_;
    static std::string testDeviceRoot_;
    static bool plugged_;
    static std::string marker_;
    static std::string pc_;
    static std::string out_;
    static ComStartedProgram program_;
    static std::vector<uint8_t> connectedTray_;
};
std::string Device15EndToEnd::problem_;
std::string Device15EndToEnd::testDeviceRoot_;
bool Device15EndToEnd::plugged_ = false;
std::string Device15EndToEnd::marker_;
std::string Device15EndToEnd::pc_;
std::string Device15EndToEnd::out_;
ComStartedProgram Device15EndToEnd::program_;
std::vector<uint8_t> Device15EndToEnd::connectedTray_;

TEST_F(Device15EndToEnd, StartedByComTheProgramFindsThePluggedDeviceThroughTheRealFactory) {
    ComPtr<IZelvanMgr> hub = Hub();
    ASSERT_TRUE(hub);
    ASSERT_TRUE(program_.Attach(30000));

    EXPECT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 20000));
    EXPECT_EQ(List(""), std::vector<std::string>{kName});
    EXPECT_TRUE(WaitUntil([] { return LogHas(marker_ + " found " + kStrId); }));
    // The factory identified the device before announcing it.
    EXPECT_TRUE(HasRun(CommandLog(), {"id $pipe=17", "id $pipe=17"}));
    Sleep(500);
    connectedTray_ = TrayPixels();
    test::SaveScreenshot(OutputFolder() + L"\\device15-plugged.bmp");
}

TEST_F(Device15EndToEnd, AScriptClientWorksWithTheDeviceFilesThroughTheHub) {
    CommandLog();
    // The script's output goes to a file, shown when a check fails.
    const std::string output = pc_ + "\\script-output.txt";
    test::StartedProcess script;
    ASSERT_TRUE(script.Start(L"cmd.exe /c cscript.exe //nologo \"" + ScriptFolder() +
                             L"\\device15_client.js\" " + test::Widen(kName) + L" \"" + test::Widen(pc_) +
                             L"\" \"" + test::Widen(out_) + L"\" > \"" + test::Widen(output) + L"\" 2>&1"));
    EXPECT_EQ(script.WaitForExit(90000), 0) << ReadFile(output);
    const std::vector<std::string> log = CommandLog();

    // The exported tree holds the imported bytes.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(test::ReadWholeFile(test::Widen(out_ + "\\b\\f.txt"), bytes));
    EXPECT_EQ(bytes, test::Pattern(600, 1));
    ASSERT_TRUE(test::ReadWholeFile(test::Widen(out_ + "\\b\\sub\\g.txt"), bytes));
    EXPECT_EQ(bytes, test::Pattern(3000, 2));

    // The folder import: the folder, then its entries in the order the PC lists them, then the
    // subfolder's; each with its listing and attribute commands around the transfer.
    EXPECT_TRUE(HasRun(log, devlink15::test::TreeImportCommands(pc_ + "\\b", "/default/x/b", 600, "", 3000)))
        << Joined(log);

    // The folder export: one recursive listing, then per file the transfer and its listing.
    EXPECT_TRUE(HasRun(log, {"ls $pipe=25 -L \"/default/x/b/.../*\""})) << Joined(log);
    EXPECT_TRUE(
        HasRun(log, {"upl $data_pipe=101 \"/default/x/b/f.txt\" ", "ls $pipe=15 -L \"/default/x/b/f.txt\""}))
        << Joined(log);

    // The folder copy on the device: one listing, the folders, then each file's listings and "cp".
    EXPECT_TRUE(HasRun(log, devlink15::test::DocsCopyCommands())) << Joined(log);

    // Move and rename are one "cp -m" each; folders are made with "mkdir"; a file and a folder
    // are deleted with "rm" after their listing and the clearing of their attributes.
    EXPECT_TRUE(HasRun(log, {"cp $pipe=15 -f -v -m \"/default/docs/a.txt\" \"/default/x/moved.txt\""}))
        << Joined(log);
    EXPECT_TRUE(HasRun(log, {"cp $pipe=15 -f -v -m \"/default/x/moved.txt\" \"/default/x/renamed.txt\""}))
        << Joined(log);
    EXPECT_TRUE(HasRun(log, {"mkdir $pipe=15 \"/default/New\""})) << Joined(log);
    EXPECT_TRUE(HasRun(log, {"ls $pipe=15 -L \"/default/a.txt\"", "chmod $pipe=15 -RHs \"/default/a.txt\"",
                             "chmod $pipe=15 + \"/default/a.txt\"", "rm $pipe=15 \"/default/a.txt\""}))
        << Joined(log);
    EXPECT_TRUE(
        HasRun(log, {"ls $pipe=15 -L \"/default/Games\"", "chmod $pipe=15 -RHs \"/default/Games\"",
                     "chmod $pipe=15 + \"/default/Games\"", "rm $pipe=15 -f \"/default/Games/.../*\""}))
        << Joined(log);
}

TEST_F(Device15EndToEnd, AttributesTimesAndInformationThroughTheCustomInterface) {
    ComPtr<IZelvanMgr> hub = Hub();
    ASSERT_TRUE(hub);
    // No question may stop the operations (the sequences below are the same either way).
    ASSERT_EQ(hub->put_EnableUI(0), S_OK);
    CommandLog();

    // A read-only hidden PC file arrives with R and H.
    ComPtr<RecordingCallback> callback;
    ASSERT_EQ(com::MakeComObject(callback), S_OK);
    std::string source = pc_ + "\\a.txt", target = std::string(kName) + "\\Main\\docs\\a.txt";
    LPSTR sources[] = {source.data()}, targets[] = {target.data()};
    ASSERT_EQ(hub->CopyFileItems(1, 260, sources, targets, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(callback->completed, std::vector<std::string>{source + "||0"});
    std::vector<std::string> log = CommandLog();
    EXPECT_EQ(log, devlink15::test::FileImportCommands("/default/docs/a.txt", 1000, "RH"));
    EXPECT_EQ(List(std::string(kName) + "\\Main\\docs", true),
              (std::vector<std::string>{"a.txt|5|1000", "old|16|0"}));

    // Attributes set through the hub: all three letters cleared, then the asked ones set.
    ZVFILEITEM item{};
    item.strName = target.data();
    item.attr = 13;
    CommandLog();
    ASSERT_EQ(hub->SetItemAttributes(item), S_OK);
    EXPECT_EQ(CommandLog(), (std::vector<std::string>{"chmod $pipe=15 -RHs \"/default/docs/a.txt\"",
                                                      "chmod $pipe=15 +RsH \"/default/docs/a.txt\""}));
    EXPECT_EQ(List(std::string(kName) + "\\Main\\docs", true),
              (std::vector<std::string>{"a.txt|13|1000", "old|16|0"}));
    const FILETIME deviceTime = ListedTime(std::string(kName) + "\\Main\\docs", "a.txt");

    // Exported, the file carries the device's attributes and the time the device lists.
    ASSERT_EQ(com::MakeComObject(callback), S_OK);
    std::string exported = out_ + "\\a-exported.txt";
    LPSTR from[] = {target.data()}, to[] = {exported.data()};
    ASSERT_EQ(hub->CopyFileItems(1, 260, from, to, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(test::ReadWholeFile(test::Widen(exported), bytes));
    EXPECT_EQ(bytes, test::Pattern(1000, 5));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExA(exported.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    FILETIME localTime{};
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &localTime);
    EXPECT_EQ(CompareFileTime(&localTime, &deviceTime), 0);
    SetFileAttributesA(exported.c_str(), FILE_ATTRIBUTE_NORMAL);
    item.attr = 0;
    ASSERT_EQ(hub->SetItemAttributes(item), S_OK);
    EXPECT_EQ(List(std::string(kName) + "\\Main\\docs", true),
              (std::vector<std::string>{"a.txt|0|1000", "old|16|0"}));

    // Volume and device information.
    VOLUMEINFO volume{};
    std::string main = std::string(kName) + "\\Main";
    ASSERT_EQ(hub->GetVolumeInfo(main.data(), &volume), S_OK);
    EXPECT_EQ(volume.nBlockSize, 512);
    EXPECT_EQ(volume.nTotalBlocks, 64 * 1024 * 1024 / 512);
    EXPECT_GT(volume.nFreeBlocks, 0);
    EXPECT_EQ(volume.nBusyBlocks, volume.nTotalBlocks - volume.nFreeBlocks);
    EXPECT_TRUE(HasRun(CommandLog(), {"sysinfo $pipe=15 \"/default\""}));

    ASSERT_EQ(com::MakeComObject(callback), S_OK);
    std::string name = kName;
    ASSERT_EQ(hub->GetDeviceInfo(name.data(), callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait([&] { return !callback->completed.empty(); }));
    const std::string info = callback->completed.front();
    EXPECT_NE(info.find("device_id= E2E15DEVICE1"), std::string::npos) << info;
    EXPECT_NE(info.find("short_id= E2E0015"), std::string::npos) << info;
    EXPECT_NE(info.find("block_size(bytes)= 512"), std::string::npos) << info;
    EXPECT_EQ(info.substr(info.size() - 2), "|0") << info;
    hub->put_EnableUI(1);
}

// The names a shell folder lists, sorted.
std::vector<std::string> ShellNames(IShellFolder* folder) {
    std::vector<std::string> names;
    ComPtr<IEnumIDList> items;
    if (!folder || folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &items) != S_OK)
        return names;
    PITEMID_CHILD item = nullptr;
    while (items->Next(1, &item, nullptr) == S_OK) {
        STRRET name{};
        char text[MAX_PATH] = {};
        if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_INFOLDER, &name)) &&
            SUCCEEDED(StrRetToBufA(&name, item, text, sizeof(text))))
            names.emplace_back(text);
        CoTaskMemFree(item);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The folder a shell folder lists under `name`, bound; a path the desktop parses when none is.
ComPtr<IShellFolder> ShellChild(IShellFolder* folder, const std::string& name) {
    ComPtr<IShellFolder> child;
    ComPtr<IEnumIDList> items;
    if (folder && folder->EnumObjects(nullptr, SHCONTF_FOLDERS, &items) == S_OK) {
        PITEMID_CHILD item = nullptr;
        while (!child && items->Next(1, &item, nullptr) == S_OK) {
            STRRET shown{};
            char text[MAX_PATH] = {};
            if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_INFOLDER, &shown)) &&
                SUCCEEDED(StrRetToBufA(&shown, item, text, sizeof(text))) && name == text)
                folder->BindToObject(item, nullptr, IID_PPV_ARGS(&child));
            CoTaskMemFree(item);
        }
    }
    std::wstring wide = test::Widen(name);
    PIDLIST_RELATIVE parsed = nullptr;
    if (!child && folder &&
        SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &parsed, nullptr))) {
        folder->BindToObject(parsed, nullptr, IID_PPV_ARGS(&child));
        CoTaskMemFree(parsed);
    }
    return child;
}

TEST_F(Device15EndToEnd, TheExplorerFolderShowsTheDeviceAndUploadsADroppedPcFile) {
    // Wine's shell loads the registered "My Zelvan" folder, which reaches the program's hub.
    ComPtr<IShellFolder> desktop;
    ASSERT_EQ(SHGetDesktopFolder(&desktop), S_OK);
    ComPtr<IShellFolder> root = ShellChild(
        desktop.Get(), "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{183249DD-9B44-4B4E-88FB-FA55F948649C}");
    ASSERT_TRUE(root);
    EXPECT_EQ(ShellNames(root.Get()), std::vector<std::string>{kName});
    ComPtr<IShellFolder> docs = ShellChild(ShellChild(ShellChild(root.Get(), kName).Get(), "Main").Get(), "docs");
    ASSERT_TRUE(docs);
    EXPECT_EQ(ShellNames(docs.Get()), (std::vector<std::string>{"a.txt", "old"}));

    // The shell's own data object of a PC file, dropped on the device's folder.
    ComPtr<IShellFolder> pcFolder = ShellChild(desktop.Get(), pc_ + "\\b");
    ASSERT_TRUE(pcFolder);
    std::wstring fileName = L"f.txt";
    PIDLIST_RELATIVE file = nullptr;
    ASSERT_EQ(pcFolder->ParseDisplayName(nullptr, nullptr, fileName.data(), nullptr, &file, nullptr), S_OK);
    PCUITEMID_CHILD files[] = {reinterpret_cast<PCUITEMID_CHILD>(file)};
    ComPtr<IDataObject> data;
    ASSERT_EQ(pcFolder->GetUIObjectOf(nullptr, 1, files, IID_IDataObject, nullptr, reinterpret_cast<void**>(&data)),
              S_OK);
    CoTaskMemFree(file);
    ComPtr<IDropTarget> target;
    ASSERT_EQ(docs->CreateViewObject(nullptr, IID_PPV_ARGS(&target)), S_OK);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    POINTL point{0, 0};
    EXPECT_EQ(target->Drop(data.Get(), MK_LBUTTON, point, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    EXPECT_TRUE(test::PollUntil(
        [&] { return List(std::string(kName) + "\\Main\\docs", true).size() == 3; }, 60000));
    EXPECT_EQ(List(std::string(kName) + "\\Main\\docs", true),
              (std::vector<std::string>{"a.txt|0|1000", "f.txt|0|600", "old|16|0"}));
    // The PC file stays: the drop copied.
    EXPECT_TRUE(GetFileAttributesA((pc_ + "\\b\\f.txt").c_str()) != INVALID_FILE_ATTRIBUTES);
}

TEST_F(Device15EndToEnd, UnpluggedTheDeviceLeavesTheProgramAndPluggedAgainItComesBack) {
    ASSERT_NE(program_.MainDialog(), nullptr);
    ASSERT_FALSE(connectedTray_.empty());
    SharedEmulator().Request("unplug " + std::to_string(kSlot));
    EXPECT_TRUE(WaitUntil([] { return HubDeviceCount() == 0; }, 20000));
    EXPECT_TRUE(WaitUntil([] { return LogHas(marker_ + " lost " + kStrId); }));
    EXPECT_EQ(List(""), std::vector<std::string>{});
    // The tray shows "no device", and the program's disconnection alert names the device.
    Sleep(500);
    EXPECT_NE(TrayPixels(), connectedTray_);
    test::SaveScreenshot(OutputFolder() + L"\\device15-unplugged.bmp");
    HWND alert = nullptr;
    EXPECT_TRUE(
        WaitUntil([&] { return (alert = test::FindShownWindow(L"#32770", L"Device disconnected")) != nullptr; }));
    if (alert) {
        wchar_t label[100] = {};
        GetDlgItemTextW(alert, 16196, label, 100);
        EXPECT_STREQ(label, L"Pocket15(@E2E0015)");
    }

    // Plugged again: found through the factory's arrival road, the alert closes, the tray is back.
    plugged_ = SharedEmulator().Plug(kSlot, kDeviceId, kShortId, "labels=card:Card") >= 0;
    ASSERT_TRUE(plugged_);
    EXPECT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 20000));
    EXPECT_TRUE(WaitUntil([] { return !FindWindowW(L"#32770", L"Device disconnected"); }));
    const std::string found = marker_ + " found " + kStrId;
    EXPECT_TRUE(WaitUntil([&] {
        const std::string log = SharedLogText();
        return log.find(found) != log.rfind(found);
    }));
    EXPECT_TRUE(WaitUntil([] { return TrayPixels() == connectedTray_; }, 5000));
    EXPECT_EQ(List(std::string(kName) + "\\Main"), (std::vector<std::string>{"New", "docs", "keep", "x"}));
}

} // namespace
} // namespace tv::e2e
