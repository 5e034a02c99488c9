#include "UiHarness.h"
#include <gtest/gtest.h>
#include <thread>

using namespace tv::test;

TEST(UiHarness, ClicksTheButtonOfADialogFoundByTitle) {
    int answer = 0;
    std::thread asker([&answer] {
        answer = MessageBoxW(nullptr, L"Press OK", L"TvHarnessProbe", MB_OKCANCEL);
    });
    HWND dialog = WaitForWindow(L"#32770", L"TvHarnessProbe", 10000);
    if (!dialog)
        asker.detach(); // no dialog to press: leave the thread to the process's end
    ASSERT_NE(nullptr, dialog);
    Sleep(500); // let the dialog paint before the picture is taken
    EXPECT_TRUE(SaveScreenshot(ExeFolder() + L"\\harness_probe.bmp"));
    EXPECT_TRUE(ClickButton(dialog, IDOK));
    asker.join();
    EXPECT_EQ(IDOK, answer);
}

TEST(UiHarness, StartsAProgramAndWaitsForItsExitCode) {
    StartedProcess process;
    ASSERT_TRUE(process.Start(L"cmd.exe /c exit 5"));
    EXPECT_EQ(5, process.WaitForExit(20000));
    EXPECT_EQ(nullptr, WaitForWindow(L"NoSuchTavrilonClass", nullptr, 100));
}
