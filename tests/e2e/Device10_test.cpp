// A 1.0 device end to end, run by devlink10/tests/zvl10_e2e.sh after its factory phase: the
// emulated device answers on COM4 under the name Preset10, the program (started by COM) finds it
// through the real Zvl10 factory, a script client works with its files through the hub, and the
// script's unplug and replug (asked for with marker files in C:\zvl10) take it out of the
// program and bring it back.
#include "AnsiText.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;

const char kWork[] = "C:\\zvl10";
const char kName[] = "Preset10";
const char kStrId[] = "@ZV10E2E";
const char kFlash[] = "Preset10\\Device Flash";
const char kTestDeviceKey[] = "Software\\Zelvan\\Tavrilon\\TestDevice";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
// Asks the script for something by making the marker file `ask`; true once it made `done`.
bool AskScript(const char* ask, const char* done) {
    WriteFile(std::string(kWork) + "\\" + ask, "");
    return WaitUntil([&] { return Exists(std::string(kWork) + "\\" + done); }, 15000);
}

// One program and one device for the whole suite; the tests run in order.
class Device10EndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // No folder-backed test devices: the program's only device is the emulated one, which
        // the PC knows already (no naming dialog); no alert box when it goes.
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        const std::string noTestDevices = std::string(temp) + "tve2e10-none";
        CreateDirectoryA(noTestDevices.c_str(), nullptr);
        SetUserString(kTestDeviceKey, "Root", noTestDevices);
        SetUserNumber("Software\\Zelvan\\Tavrilon", "TvOptions", 3); // no start-up dialog, no balloon
        SetUserString(kRegistration, "Name", kName);
        SetUserNumber(kRegistration, "IsGuest", 0);
        SetUserNumber(kRegistration, "DisconnectionAlert", 0);
        marker_ = "event10 " + std::to_string(GetTickCount());
        storedEvents_ = StoreScript(L"DeviceEvents", DeviceEventsScript(marker_).c_str());
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        StoreScript(L"DeviceEvents", nullptr);
        CoUninitialize();
    }

    static ComPtr<IZelvanMgr> Hub() {
        ComPtr<IZelvanMgr> hub = ConnectHub();
        EXPECT_TRUE(hub);
        return hub;
    }
    static bool LogHas(const std::string& text) { return SharedLogText().find(text) != std::string::npos; }
    static size_t LogCount(const std::string& text) {
        const std::string log = SharedLogText();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

    // The names the hub lists for a path, sorted; `answer` receives the hub's result.
    static std::vector<std::string> List(const std::string& path, HRESULT* answer = nullptr) {
        ComPtr<IZvEnumFileItems> items;
        std::string text = path;
        const HRESULT hr = Hub()->EnumFileItems(text.data(), 31, &items);
        if (answer)
            *answer = hr;
        std::vector<std::string> names;
        ZVFILEITEM item{};
        LONG fetched = 0;
        while (items && items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            names.push_back(item.strName ? item.strName : "");
            CoTaskMemFree(item.strName);
            CoTaskMemFree(item.strDesc);
            CoTaskMemFree(item.strIconFile);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static bool storedEvents_;
    static std::string marker_;
    static ComStartedProgram program_;
};
bool Device10EndToEnd::storedEvents_ = false;
std::string Device10EndToEnd::marker_;
ComStartedProgram Device10EndToEnd::program_;

TEST_F(Device10EndToEnd, StartedByComTheProgramFindsTheDeviceThroughTheRealFactory) {
    ASSERT_TRUE(storedEvents_);
    ComPtr<IZelvanMgr> hub = Hub();
    ASSERT_TRUE(hub);
    ASSERT_TRUE(program_.Attach(30000));

    // The factory probes COM1 to COM9 in rounds 5 s apart.
    ASSERT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 40000));
    EXPECT_EQ(List(""), std::vector<std::string>{kName});
    EXPECT_TRUE(WaitUntil([] { return LogHas(marker_ + " found " + kStrId); }));
}

TEST_F(Device10EndToEnd, AScriptClientWorksWithTheDeviceFilesThroughTheHub) {
    const std::string output = std::string(kWork) + "\\script-output.txt";
    test::StartedProcess script;
    ASSERT_TRUE(script.Start(L"cmd.exe /c cscript.exe //nologo \"" + ScriptFolder() +
                             L"\\device10_client.js\" " + com::FromAnsi(kName) + L" " + com::FromAnsi(kStrId) +
                             L" " + com::FromAnsi(kWork) + L" > \"" + com::FromAnsi(output) + L"\" 2>&1"));
    EXPECT_EQ(script.WaitForExit(120000), 0) << ReadFile(output);
    // What went onto the device came back unchanged.
    const std::string sent = ReadFile(std::string(kWork) + "\\hub-up.bin");
    EXPECT_EQ(sent.size(), 2000u);
    EXPECT_TRUE(ReadFile(std::string(kWork) + "\\hub-down.bin") == sent);
}

TEST_F(Device10EndToEnd, VolumeAndDeviceInformationThroughTheCustomInterface) {
    ComPtr<IZelvanMgr> hub = Hub();
    ASSERT_TRUE(hub);
    VOLUMEINFO volume{};
    std::string flash = kFlash;
    ASSERT_EQ(hub->GetVolumeInfo(flash.data(), &volume), S_OK);
    EXPECT_EQ(volume.nTotalBlocks, 2043);
    EXPECT_GT(volume.nBlockSize, 0);
    EXPECT_GT(volume.nFreeBlocks, 0);
    EXPECT_LE(volume.nFreeBlocks, volume.nTotalBlocks);

    ComPtr<RecordingCallback> callback;
    ASSERT_EQ(com::MakeComObject(callback), S_OK);
    std::string name = kName;
    ASSERT_EQ(hub->GetDeviceInfo(name.data(), callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait([&] { return !callback->completed.empty(); }));
    const std::string info = callback->completed.front();
    // The emulated device's hardware version 2.1 reads as the letter w.
    EXPECT_EQ(info.rfind("|Hardware: w|RF channel", 0), 0u) << info;
    EXPECT_NE(info.find("Port: COM4|0"), std::string::npos) << info;
    EXPECT_EQ(info.substr(info.size() - 2), "|0") << info;
}

TEST_F(Device10EndToEnd, UnpluggedTheDeviceLeavesTheProgramAndPluggedAgainItComesBack) {
    ASSERT_NE(program_.MainDialog(), nullptr);
    ASSERT_TRUE(AskScript("unplug", "unplugged"));
    // A serial port tells nothing when the device goes: its next use finds it gone.
    HRESULT answer = S_OK;
    List(kName, &answer);
    EXPECT_NE(answer, S_OK);
    EXPECT_TRUE(WaitUntil([] { return HubDeviceCount() == 0; }, 20000));
    EXPECT_TRUE(WaitUntil([] { return LogHas(marker_ + " lost " + kStrId); }));
    EXPECT_EQ(List(""), std::vector<std::string>{});

    // Plugged again: the next detection round after the factory's hold-off finds it.
    ASSERT_TRUE(AskScript("replug", "replugged"));
    EXPECT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 40000));
    EXPECT_TRUE(WaitUntil([] { return LogCount(marker_ + " found " + kStrId) == 2; }));
    EXPECT_EQ(List(""), std::vector<std::string>{kName});
    EXPECT_EQ(List(kFlash), std::vector<std::string>{"up.bin"});
}

} // namespace
} // namespace tv::e2e
