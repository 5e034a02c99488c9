// The 1.0 generation's item pages in the program's property sheet, applied through a hub whose
// devices are folders.
#include "ClassFactory.h"
#include "LangIds.h"
#include "PageHost.h"
#include "Pages10.h"
#include "UiHarness.h"
#include "ZvDevice10.h"
#include <gtest/gtest.h>
#include <commctrl.h>

using namespace tv;
using namespace tv::test;

namespace {

class Pages10Test : public testing::Test {
  protected:
    void SetUp() override {
        devices_.MakeFolder("Dev1");
        devices_.MakeFolder("Dev1\\Flash");
        devices_.WriteFile("Dev1\\Flash\\memo.txt", "memo");
    }

    TestDeviceFolders devices_;
};

// The file's time is UTC on this generation and shown in local time.
std::string LocalTimeText(const FILETIME& utc) {
    FILETIME local = {};
    FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME shown = {};
    FileTimeToSystemTime(&local, &shown);
    char date[64] = {}, clock[64] = {};
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, &shown, nullptr, date, sizeof(date));
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &shown, nullptr, clock, sizeof(clock));
    return std::string(date) + " " + clock;
}

TEST_F(Pages10Test, FilePageShowsTheFileAndApplyRenamesItThroughTheHub) {
    SYSTEMTIME time = {2022, 6, 0, 1, 8, 15, 0, 0};
    FILETIME utc = {};
    SystemTimeToFileTime(&time, &utc);
    PageSheetRun run(devices_, "File 1.0",
                     {ClassOf<devlink10::ZvFilePropPage10>(devlink10::kClsidFilePropPage10)},
                     ShownItem{8, 0, 4, utc, "memo.txt", "Dev1\\Flash"});
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(TabTitle(sheet), "General");
    EXPECT_EQ(ControlText(page, IDC_PAGE_NAME), "memo.txt");
    EXPECT_EQ(ControlText(page, IDC_PAGE_LOCATION), "Dev1\\Flash");
    EXPECT_EQ(ControlText(page, IDC_PAGE_SIZE), "4 bytes");
    EXPECT_EQ(ControlText(page, IDC_PAGE_TIME), LocalTimeText(utc));
    // The page is a plain child: its template's caption only names the tab.
    EXPECT_FALSE(GetWindowLongPtrA(page, GWL_STYLE) & WS_CAPTION);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, IDC_SHEET_APPLY)));
    SaveShot(L"pages10_file.bmp");

    SetDlgItemTextA(page, IDC_PAGE_NAME, "letter.txt");
    ASSERT_TRUE(WaitForApplyEnabled(sheet));
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    ASSERT_TRUE(WaitForClose(sheet));
    run.Join();
    EXPECT_EQ(run.Result(), 1);
    EXPECT_FALSE(devices_.Exists("Dev1\\Flash\\memo.txt"));
    EXPECT_TRUE(devices_.Exists("Dev1\\Flash\\letter.txt"));
}

TEST_F(Pages10Test, ARefusedRenameKeepsThePageOpenAndANameTypedBackSendsNothing) {
    devices_.WriteFile("Dev1\\Flash\\taken.txt", "x");
    PageSheetRun run(devices_, "Refused 1.0",
                     {ClassOf<devlink10::ZvFilePropPage10>(devlink10::kClsidFilePropPage10)},
                     ShownItem{8, 0, 4, {}, "memo.txt", "Dev1\\Flash"});
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    SetDlgItemTextA(page, IDC_PAGE_NAME, "taken.txt");
    ASSERT_TRUE(WaitForApplyEnabled(sheet));
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    Sleep(1000);
    ASSERT_TRUE(IsWindow(sheet)); // the failed page keeps the sheet open
    // The old name typed back: applied without asking the hub.
    SetDlgItemTextA(page, IDC_PAGE_NAME, "memo.txt");
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    ASSERT_TRUE(WaitForClose(sheet));
    run.Join();
    EXPECT_EQ(run.Result(), 1);
    EXPECT_TRUE(devices_.Exists("Dev1\\Flash\\memo.txt"));
    EXPECT_TRUE(devices_.Exists("Dev1\\Flash\\taken.txt"));
}

TEST_F(Pages10Test, MediaPageShowsTheVolumeWithItsPie) {
    PageSheetRun run(devices_, "Media 1.0",
                     {ClassOf<devlink10::ZvMediaPropPage10>(devlink10::kClsidMediaPropPage10)},
                     ShownItem{2, 0, 0, {}, "Flash", "Dev1"});
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(TabTitle(sheet), "General");
    EXPECT_EQ(ControlText(page, IDC_PAGE_TYPE), "Flash");
    EXPECT_EQ(ControlText(page, IDC_MEDIA_TYPE), "Zelvan 1.0 handheld");
    for (int id : {IDC_MEDIA_USED, IDC_MEDIA_FREE, IDC_MEDIA_TOTAL})
        EXPECT_NE(ControlText(page, id).find("bytes"), std::string::npos) << id;
    SaveShot(L"pages10_media.bmp");
    HDC dc = GetDC(page);
    COLORREF rim = GetPixel(dc, 170, 305);
    ReleaseDC(page, dc);
    EXPECT_TRUE(rim == RGB(0, 0, 130) || rim == RGB(130, 0, 130)) << std::hex << rim;
    ASSERT_TRUE(ClickButton(sheet, IDCANCEL));
    run.Join();
    EXPECT_EQ(run.Result(), 2);
}

TEST(Pages10Server, Zvl10ServesBothPagesTitledByTheirTemplates) {
    com::ComApartment apartment;
    for (const CLSID* clsid : {&devlink10::kClsidFilePropPage10, &devlink10::kClsidMediaPropPage10}) {
        com::ComPtr<IPropertyPage> page;
        ASSERT_EQ(PageFromDeliverable(L"Zvl10.dll", *clsid, page), S_OK);
        PROPPAGEINFO info = {};
        ASSERT_EQ(page->GetPageInfo(&info), S_OK);
        EXPECT_STREQ(info.pszTitle, L"General");
        if (*clsid == devlink10::kClsidMediaPropPage10) {
            EXPECT_GT(info.size.cy, 310); // room for the pie below the texts
        }
        CoTaskMemFree(info.pszTitle);
    }
}

} // namespace
