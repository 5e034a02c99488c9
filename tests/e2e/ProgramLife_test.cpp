// The program while devices come and go through the test factory (its root folder's
// sub-folders are the devices), and its end through the tray menu's Exit.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "ZelvanMgr.h"
#include "ZvRegistrar.h"
#include <gtest/gtest.h>
#include <functional>

namespace tv::e2e {
namespace {

const std::string kDeviceList = "Software\\Zelvan\\Tavrilon\\DeviceList\\";

bool LogHas(const std::string& text) { return SharedLogText().find(text) != std::string::npos; }

// The open disconnection alert of the program (caption of its dialog); null when none.
HWND FindAlert(DWORD processId) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", L"Device disconnected"); window;
         window = FindWindowExW(nullptr, window, L"#32770", L"Device disconnected")) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

DWORD AlertSetting(const std::string& strId) {
    DWORD value = 0xffffffff;
    DWORD size = sizeof(value);
    RegGetValueA(HKEY_CURRENT_USER, (kDeviceList + strId).c_str(), "DisconnectionAlert", RRF_RT_REG_DWORD, nullptr,
                 &value, &size);
    return value;
}

class ProgramLife : public testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        tree_ = MakeTestTree();
        marker_ = std::to_string(GetTickCount());
        RegDeleteTreeA(HKEY_CURRENT_USER, (kDeviceList + "@TDDevB").c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, (kDeviceList + "@TDDevC").c_str());
        const std::wstring mark(marker_.begin(), marker_.end());
        const std::wstring log = L"function log(t) { new ActiveXObject(\"Tavrilon.Logger\").Write(t); }\n";
        ASSERT_TRUE(StoreScript(L"DeviceEvents", (log + L"function OnDeviceFound(id) { log(\"event " + mark +
                                                  L" found \" + id); return true; }\n"
                                                  L"function OnDeviceLost(id) { log(\"event " +
                                                  mark + L" lost \" + id); }\n")
                                                     .c_str()));
        ASSERT_TRUE(StoreScript(L"Autostart", (log +
                                               L"function OnStart(n) { return true; }\n"
                                               L"function OnFinish() { log(\"finish " +
                                               mark + L"\"); }\n")
                                                  .c_str()));
    }
    void TearDown() override {
        StoreScript(L"DeviceEvents", nullptr);
        StoreScript(L"Autostart", nullptr);
        CoUninitialize();
    }

    // Opens the tray menu; its height in pixels, and the menu window left open when asked.
    long TrayMenuHeight(HWND mainDialog, HWND* keepOpen = nullptr) {
        HWND menu = OpenTrayMenu(mainDialog);
        if (!menu)
            return 0;
        Sleep(300);
        RECT shape{};
        GetWindowRect(menu, &shape);
        if (keepOpen)
            *keepOpen = menu;
        else
            CloseTrayMenu(mainDialog, menu);
        return shape.bottom - shape.top;
    }

    // Chooses Exit, the tray menu's last entry.
    void ChooseExit(HWND mainDialog) {
        HWND menu = nullptr;
        TrayMenuHeight(mainDialog, &menu);
        ASSERT_NE(menu, nullptr);
        PostMessageW(menu, WM_KEYDOWN, VK_UP, 0);
        PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    }

    TestTree tree_;
    std::string marker_;
};

// A visible message box of the program's process with this text; null when none.
HWND FindMessageBox(DWORD processId, const wchar_t* text) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
         window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t shown[200] = {};
        GetDlgItemTextW(window, 0xFFFF, shown, 200);
        if (owner == processId && IsWindowVisible(window) && wcsstr(shown, text))
            return window;
    }
    return nullptr;
}

TEST_F(ProgramLife, DevicesComeAndGoWithMenuScriptsAndAlertsThenExitEndsTheProgram) {
    RunningProgram program;
    ASSERT_TRUE(program.Start());
    ASSERT_EQ(HubDeviceCount(), 2);
    const long twoDevices = TrayMenuHeight(program.MainDialog());

    // A new folder is a device found: listed, in the menu, and its script function ran.
    CreateDirectoryA((tree_.devices + "\\DevC").c_str(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return HubDeviceCount() == 3; }));
    EXPECT_TRUE(WaitUntil([&] { return LogHas("event " + marker_ + " found @TDDevC"); }));
    EXPECT_GT(TrayMenuHeight(program.MainDialog()), twoDevices);

    // A removed folder is a device lost: its alert names it; ticked, it is not shown again.
    RemoveDirectoryA((tree_.devices + "\\DevC").c_str());
    EXPECT_TRUE(WaitUntil([&] { return HubDeviceCount() == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return LogHas("event " + marker_ + " lost @TDDevC"); }));
    HWND alert = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (alert = FindAlert(program.ProcessId())) != nullptr; }));
    if (alert) {
        wchar_t label[100] = {};
        GetDlgItemTextW(alert, 16196, label, 100);
        EXPECT_STREQ(label, L"DevC(@TDDevC)");
        EXPECT_TRUE(test::SaveScreenshot(OutputFolder() + L"\\disconnection-alert.bmp"));
        SendMessageW(GetDlgItem(alert, 16197), BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_TRUE(test::ClickButton(alert, IDOK));
        EXPECT_TRUE(WaitUntil([&] { return !FindAlert(program.ProcessId()); }, 5000));
    }
    EXPECT_EQ(AlertSetting("@TDDevC"), 0u);
    CreateDirectoryA((tree_.devices + "\\DevC").c_str(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return HubDeviceCount() == 3; }));
    RemoveDirectoryA((tree_.devices + "\\DevC").c_str());
    EXPECT_TRUE(WaitUntil([&] { return HubDeviceCount() == 2; }));
    Sleep(1500);
    EXPECT_EQ(FindAlert(program.ProcessId()), nullptr);

    // A device that comes back closes its own alert, which leaves the setting on.
    // It is also the positive case of the ticked one above: this alert comes, DevC's never did.
    MoveFileA((tree_.devices + "\\DevB").c_str(), (tree_.root + "\\DevB").c_str());
    HWND alertB = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (alertB = FindAlert(program.ProcessId())) != nullptr; }));
    if (alertB) {
        wchar_t label[100] = {};
        GetDlgItemTextW(alertB, 16196, label, 100);
        EXPECT_STREQ(label, L"DevB(@TDDevB)");
    }
    MoveFileA((tree_.root + "\\DevB").c_str(), (tree_.devices + "\\DevB").c_str());
    EXPECT_TRUE(WaitUntil([&] { return !FindAlert(program.ProcessId()); }));
    EXPECT_EQ(AlertSetting("@TDDevB"), 1u);
    EXPECT_TRUE(WaitUntil([&] { return HubDeviceCount() == 2; }));

    // With no device left the menu has no device entries.
    MoveFileA((tree_.devices + "\\DevA").c_str(), (tree_.root + "\\DevA").c_str());
    MoveFileA((tree_.devices + "\\DevB").c_str(), (tree_.root + "\\DevB").c_str());
    EXPECT_TRUE(WaitUntil([&] { return HubDeviceCount() == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return FindAlert(program.ProcessId()) != nullptr; }));
    EXPECT_LT(TrayMenuHeight(program.MainDialog()), twoDevices);

    // While the hub shows a window of its own, Exit is refused with a message and the program
    // goes on.
    com::ComPtr<IZelvanMgr> hub;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelvanMgr,
                                              reinterpret_cast<void**>(&hub)));
    ASSERT_HRESULT_SUCCEEDED(hub->put_BusyUI(1));
    ChooseExit(program.MainDialog());
    HWND refusal = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (refusal = FindMessageBox(program.ProcessId(), L"close its open windows")); }));
    if (refusal) {
        EXPECT_TRUE(test::ClickButton(refusal, IDOK));
    }
    Sleep(1000);
    EXPECT_EQ(HubDeviceCount(), 0); // the program still answers
    ASSERT_HRESULT_SUCCEEDED(hub->put_BusyUI(0));
    hub = nullptr;

    // Exit from the tray menu (its last entry) runs "OnFinish" and ends the process with 0;
    // the alerts still open are closed with it.
    ChooseExit(program.MainDialog());
    EXPECT_EQ(program.WaitForExit(40000), 0);
    EXPECT_TRUE(LogHas("finish " + marker_));
}

// An exit without questions that comes while the about dialog is open ends the program once the
// dialog has closed: the wait for the dialog's thread passes the quit on.
TEST_F(ProgramLife, ExitWithoutQuestionsWhileAboutIsOpenEndsTheProgramWhenItCloses) {
    constexpr UINT kAboutCommand = 0x4000;
    constexpr UINT kExitWithoutQuestionsCommand = 57665;
    RunningProgram program;
    ASSERT_TRUE(program.Start());
    const HWND mainDialog = program.MainDialog();
    PostMessageW(mainDialog, WM_COMMAND, kAboutCommand, 0);
    HWND about = test::WaitForWindow(L"#32770", L"About Tavrilon", 15000);
    ASSERT_NE(about, nullptr);
    PostMessageW(mainDialog, WM_COMMAND, kExitWithoutQuestionsCommand, 0);
    EXPECT_EQ(program.WaitForExit(1000), -1) << "ended under the open dialog";
    EXPECT_TRUE(test::ClickButton(about, IDOK));
    EXPECT_EQ(program.WaitForExit(30000), 0);
}

} // namespace
} // namespace tv::e2e
