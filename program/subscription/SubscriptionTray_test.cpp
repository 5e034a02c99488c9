// The tray's subscription update in the running program: from the menu command of a device to
// the package's script, which reaches the program's own hub and finds it no longer busy.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "SubscriptionTestUser.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

using tv::com::ComPtr;

constexpr UINT kUpdateSubscriptionCommand = 0x4200;

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

} // namespace
