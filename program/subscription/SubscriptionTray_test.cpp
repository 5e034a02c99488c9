// The tray's subscription update in the running program: from the menu command of a device to
// the package's script, which reaches the program's own hub and finds it no longer busy.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "LangIds.h"
#include "SubscriptionTestUser.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

using tv::com::ComPtr;

constexpr UINT kUpdateSubscriptionCommand = 0x4200;
constexpr UINT kExitCommand = 0x5000;
constexpr UINT kExitWithoutQuestionsCommand = 57665;

TEST(SubscriptionTrayTest, UpdateCommandRunsThePackageScriptForTheDeviceOfTheMenu) {
    tv::com::ComApartment apartment;
    const tv::e2e::TestTree tree = tv::e2e::MakeTestTree();
    const std::wstring package = tv::test::WinePath(TV_SUBSCRIPTION_TESTDATA) + L"\\update.csu";
    const std::wstring copy = std::wstring(tree.pc.begin(), tree.pc.end()) + L"\\update.csu";
    ASSERT_TRUE(CopyFileW(package.c_str(), copy.c_str(), FALSE));

    tv::e2e::RunningProgram program;
    ASSERT_TRUE(program.Start());
    ComPtr<IZelvanMgr> hub;
    ASSERT_EQ(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                               reinterpret_cast<void**>(&hub)),
              S_OK);
    const long at = tv::e2e::TrayPosition(hub.Get(), "DevB", 2);
    ASSERT_GE(at, 0);
    const UINT index = static_cast<UINT>(at);

    PostMessageW(program.MainDialog(), WM_COMMAND, kUpdateSubscriptionCommand + index, 0);
    EXPECT_TRUE(tv::test::SubscriptionUser::AnswerFirstDialog(IDOK)) << tv::test::OpenWindows();
    EXPECT_TRUE(tv::test::SubscriptionUser::ChoosePackage(copy)) << tv::test::OpenWindows();
    std::string ran;
    EXPECT_TRUE(
        tv::e2e::WaitUntil([&] { return !(ran = tv::test::ReadFile(copy + L".ran")).empty(); }, 20000))
        << tv::test::OpenWindows();
    char expected[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, copy.c_str(), -1, expected, sizeof(expected), nullptr, nullptr);
    EXPECT_EQ(ran, std::string(expected) + "|@TDDevB|idle");
    LONG busy = -1;
    EXPECT_EQ(hub->get_BusyUI(&busy), S_OK);
    EXPECT_EQ(busy, 0);
    hub.Reset();
    EXPECT_EQ(program.Exit(), 0);
}

// The update's thread outlives the hub's busy mark while its failure report is open: Exit is
// refused then, and an exit without questions ends the program once the update has ended.
TEST(SubscriptionTrayTest, ExitWaitsForAnUpdateWhoseReportIsStillOpen) {
    tv::com::ComApartment apartment;
    const tv::e2e::TestTree tree = tv::e2e::MakeTestTree();
    const std::wstring package = tv::test::WinePath(TV_SUBSCRIPTION_TESTDATA) + L"\\noscript.csu";
    const std::wstring copy = std::wstring(tree.pc.begin(), tree.pc.end()) + L"\\noscript.csu";
    ASSERT_TRUE(CopyFileW(package.c_str(), copy.c_str(), FALSE));

    tv::e2e::RunningProgram program;
    ASSERT_TRUE(program.Start());
    long at = -1;
    {
        ComPtr<IZelvanMgr> hub;
        ASSERT_EQ(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                                   reinterpret_cast<void**>(&hub)),
                  S_OK);
        at = tv::e2e::TrayPosition(hub.Get(), "DevA", 2);
    }
    ASSERT_GE(at, 0);
    PostMessageW(program.MainDialog(), WM_COMMAND, kUpdateSubscriptionCommand + static_cast<UINT>(at), 0);
    ASSERT_TRUE(tv::test::SubscriptionUser::AnswerFirstDialog(IDOK)) << tv::test::OpenWindows();
    ASSERT_TRUE(tv::test::SubscriptionUser::ChoosePackage(copy)) << tv::test::OpenWindows();
    const std::wstring reportCaption = tv::test::Text(IDS_SUBSCRIPTION_FAILED_CAPTION);
    ASSERT_TRUE(tv::test::WaitForWindow(L"#32770", reportCaption.c_str(), 20000)) << tv::test::OpenWindows();

    PostMessageW(program.MainDialog(), WM_COMMAND, kExitCommand, 0);
    EXPECT_EQ(tv::test::SubscriptionUser::CloseMessageBox(tv::test::Text(IDS_EXIT_CAPTION)),
              tv::test::Text(IDS_EXIT_DIALOG_OPEN))
        << tv::test::OpenWindows();

    PostMessageW(program.MainDialog(), WM_COMMAND, kExitWithoutQuestionsCommand, 0);
    EXPECT_EQ(program.WaitForExit(1000), -1) << "ended before the update did";
    EXPECT_TRUE(tv::test::SubscriptionUser::CloseMessageBox(reportCaption).has_value());
    EXPECT_EQ(program.WaitForExit(30000), 0) << tv::test::OpenWindows();
}

} // namespace
