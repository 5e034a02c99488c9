// Sessions in the running program: the tray's Synchronize command of a device and a device event
// script's DoSync each run a session of the test synchronizers between "pc on" and "pc off".
#include "AnsiText.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "LangIds.h"
#include "TestDeviceIds.h"
#include "TestSyncIds.h"
#include "TestSynchronizersOnly.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

using tv::com::ComPtr;
constexpr UINT kSynchronizeCommand = 0x4400;
constexpr DWORD kSessionTimeoutMs = 30000;

std::string ClsidText(REFCLSID clsid) {
    wchar_t wide[40] = {};
    StringFromGUID2(clsid, wide, ARRAYSIZE(wide));
    return tv::com::TerminatedToAnsi(wide);
}

std::vector<std::string> LogLines(const std::string& log) {
    std::ifstream file(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// Index of the first line that starts with `prefix`; -1 when none.
long FirstLine(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0)
            return static_cast<long>(i);
    return -1;
}

std::string StatusOf(HWND dialog) {
    char text[256] = {};
    GetDlgItemTextA(dialog, IDC_SYNC_STATUS, text, sizeof(text));
    return text;
}

class SyncSessionE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_ = tv::e2e::MakeTestTree();
        // No device event script of an earlier run may start a session of its own.
        ASSERT_TRUE(tv::e2e::StoreScript(L"DeviceEvents", nullptr));
        log_ = tree_.root + "\\sync.log";
        std::ofstream(log_, std::ios::trunc).close();
        RegDeleteTreeA(HKEY_CURRENT_USER, tv::tests::kTestSyncKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\ZvSyncMgr");
        tv::e2e::SetUserString(tv::tests::kTestSyncKey, tv::tests::kTestSyncLogValue, log_);
        tv::e2e::SetUserString(tv::tests::kTestDeviceKey, tv::tests::kTestDeviceCommandLogValue, log_);
        for (const CLSID* clsid : {&tv::tests::CLSID_TestSync1, &tv::tests::CLSID_TestSync2})
            tv::e2e::SetUserString("Software\\Zelvan\\Tavrilon\\ZvSyncMgr", ClsidText(*clsid).c_str(),
                                   "@TDDevA;@TDDevB;");
        // The third one fails its first phase: it gets nothing more, the others go on.
        tv::e2e::SetUserString("Software\\Zelvan\\Tavrilon\\ZvSyncMgr",
                               ClsidText(tv::tests::CLSID_TestSync3).c_str(), "@TDDevA;");
        tv::e2e::SetUserString(std::string(tv::tests::kTestSyncKey) + "\\" +
                                   ClsidText(tv::tests::CLSID_TestSync3),
                               "Phase1", "error:no such folder");
    }
    void TearDown() override {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, tv::tests::kTestDeviceKey,
                           tv::tests::kTestDeviceCommandLogValue);
        RegDeleteTreeA(HKEY_CURRENT_USER, tv::tests::kTestSyncKey);
        tv::e2e::StoreScript(L"DeviceEvents", nullptr);
    }
    HWND WaitForSessionEnd(const wchar_t* title) {
        HWND dialog = tv::test::WaitForWindow(nullptr, title, kSessionTimeoutMs);
        if (dialog)
            tv::e2e::WaitUntil([&] { return StatusOf(dialog) == "Synchronization complete"; },
                               kSessionTimeoutMs);
        return dialog;
    }
    void ExpectSessionLog(const std::string& device, const std::string& id) {
        const std::vector<std::string> lines = LogLines(log_);
        const long on = FirstLine(lines, "device " + device + " pc on");
        const long first = FirstLine(lines, "1 Synchronize 1 " + id);
        const long last = FirstLine(lines, "2 Synchronized 5 " + id);
        const long off = FirstLine(lines, "device " + device + " pc off");
        EXPECT_GE(on, 0);
        EXPECT_GT(first, on);
        EXPECT_GT(last, first);
        EXPECT_GT(off, last);
        EXPECT_EQ(FirstLine(lines, "3 Synchronize 2"), -1);
    }

    // The apartment spans SetUp and TearDown, which reach the item store through COM.
    tv::com::ComApartment apartment_;
    tv::tests::TestSynchronizersOnly onlyTestSynchronizers_;
    tv::e2e::TestTree tree_;
    std::string log_;
};

TEST_F(SyncSessionE2eTest, TrayCommandRunsASessionOfTheDevice) {
    tv::e2e::RunningProgram program;
    ASSERT_TRUE(program.Start());
    ComPtr<IZelvanMgr> hub;
    ASSERT_EQ(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                               reinterpret_cast<void**>(&hub)),
              S_OK);
    const long at = tv::e2e::TrayPosition(hub.Get(), "DevA", 2);
    ASSERT_GE(at, 0);
    PostMessageW(program.MainDialog(), WM_COMMAND, kSynchronizeCommand + static_cast<UINT>(at), 0);
    HWND dialog = tv::test::WaitForWindow(nullptr, L"Synchronizing DevA <@TDDevA>", kSessionTimeoutMs);
    ASSERT_TRUE(dialog);
    // Without automatic start the user presses Start.
    EXPECT_EQ(StatusOf(dialog), "Ready");
    tv::test::ClickButton(dialog, IDC_SYNC_START);
    EXPECT_TRUE(
        tv::e2e::WaitUntil([&] { return StatusOf(dialog) == "Synchronization complete"; }, kSessionTimeoutMs))
        << StatusOf(dialog);
    tv::test::SaveScreenshot(tv::e2e::OutputFolder() + L"\\sync_tray_session.bmp");
    tv::test::ClickButton(dialog, IDC_SYNC_CLOSE);
    EXPECT_TRUE(tv::test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    EXPECT_TRUE(tv::e2e::WaitUntil([&] { return FirstLine(LogLines(log_), "device DevA pc off") >= 0; }));
    ExpectSessionLog("DevA", "@TDDevA");
    LONG busy = -1;
    EXPECT_EQ(hub->get_BusyUI(&busy), S_OK);
    EXPECT_EQ(busy, 0);

    // The device's property sheet shows the manager's pages among the other managers' pages.
    char id[] = "@TDDevA";
    ASSERT_EQ(hub->DisplayProperties(id, nullptr), S_OK);
    HWND sheet = tv::test::WaitForWindow(nullptr, L"DevA <@TDDevA> Properties", kSessionTimeoutMs);
    ASSERT_TRUE(sheet);
    HWND tabs = GetDlgItem(sheet, IDC_SHEET_TABS);
    EXPECT_TRUE(tv::e2e::WaitUntil([&] { return SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0) >= 3; }));
    // The options page lists the three test synchronizers, the two scheduled ones checked.
    HWND page = tv::e2e::ShowSheetPageWith(sheet, tabs, IDC_OPTIONS_SYNC_LIST);
    ASSERT_TRUE(page);
    HWND list = nullptr;
    EXPECT_TRUE(tv::e2e::WaitUntil([&] {
        list = GetDlgItem(page, IDC_OPTIONS_SYNC_LIST);
        return list && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 3;
    }));
    RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    tv::test::SaveScreenshot(tv::e2e::OutputFolder() + L"\\sync_device_sheet.bmp");
    PostMessageW(sheet, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(tv::test::WaitForWindowGone(sheet, kSessionTimeoutMs));
    hub.Reset();
    EXPECT_EQ(program.Exit(), 0);
}

TEST_F(SyncSessionE2eTest, DeviceEventScriptSynchronizesWithDoSync) {
    // DevB connects after the start; its event runs a whole session and waits for its end.
    const std::string devB = tree_.devices + "\\DevB";
    RemoveDirectoryA(devB.c_str());
    ASSERT_TRUE(tv::e2e::StoreScript(
        L"DeviceEvents",
        L"function OnDeviceFound(id) {\n"
        L"  if (id == \"@TDDevB\") new ActiveXObject(\"Tavrilon.ZvSyncMgr\").DoSync(id, true);\n"
        L"  return true;\n}\n"
        L"function OnDeviceLost(id) {}\n"));
    tv::e2e::RunningProgram program;
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(CreateDirectoryA(devB.c_str(), nullptr));
    HWND dialog = WaitForSessionEnd(L"Synchronizing DevB <@TDDevB>");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(StatusOf(dialog), "Synchronization complete");
    tv::test::SaveScreenshot(tv::e2e::OutputFolder() + L"\\sync_dosync_session.bmp");
    tv::test::ClickButton(dialog, IDC_SYNC_CLOSE);
    EXPECT_TRUE(tv::test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    EXPECT_TRUE(tv::e2e::WaitUntil([&] { return FirstLine(LogLines(log_), "device DevB pc off") >= 0; }));
    ExpectSessionLog("DevB", "@TDDevB");
    EXPECT_EQ(program.Exit(), 0);
}

} // namespace
