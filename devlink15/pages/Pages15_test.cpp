// The 1.5 generation's item pages in the program's property sheet, applied through a hub whose
// devices are folders: what the pages show, and what Apply renames and sets on the device.
#include "ClassFactory.h"
#include "LangIds.h"
#include "PageHost.h"
#include "Pages15.h"
#include "UiHarness.h"
#include "Zelvan15Classes.h"
#include <gtest/gtest.h>
#include <commctrl.h>

using namespace tv;
using namespace tv::test;

namespace {

FILETIME SomeTime() {
    SYSTEMTIME time = {2024, 3, 0, 15, 10, 30, 0, 0};
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    return file;
}

void Click(HWND page, int id) {
    ASSERT_TRUE(ClickButton(page, id));
    Sleep(200);
}

class Pages15Test : public testing::Test {
  protected:
    void SetUp() override {
        devices_.MakeFolder("Dev1");
        devices_.MakeFolder("Dev1\\docs");
        devices_.MakeFolder("Dev1\\docs\\inner");
        devices_.WriteFile("Dev1\\docs\\notes.txt", std::string(1024, 'n'));
        devices_.WriteFile("Dev1\\docs\\taken.txt", "x");
        devices_.WriteFile("Dev1\\docs\\inner\\deep.txt", "0123456789");
    }

    static ShownItem FileItem(const char* name, long attr = 0) {
        return ShownItem{8, attr, 1024, SomeTime(), name, "Dev1\\docs"};
    }

    TestDeviceFolders devices_;
};

TEST_F(Pages15Test, FilePageShowsTheItemAndApplyRenamesAndSetsHiddenAndReadOnly) {
    PageSheetRun run(devices_, "File sheet",
                     {ClassOf<devlink15::ZvFilePropPage15>(devlink15::kClsidZvFilePropPage15)},
                     FileItem("notes.txt"));
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(TabTitle(sheet), "General");
    EXPECT_EQ(ControlText(page, IDC_PAGE_NAME), "notes.txt");
    EXPECT_EQ(ControlText(page, IDC_PAGE_LOCATION), "Dev1\\docs");
    std::string size = ControlText(page, IDC_PAGE_SIZE);
    EXPECT_NE(size.find(" (1024 bytes)"), std::string::npos) << size;
    EXPECT_NE(size.find("1.00"), std::string::npos) << size;
    EXPECT_NE(ControlText(page, IDC_PAGE_TIME).find("10:30"), std::string::npos);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_PAGE_HIDDEN), BST_UNCHECKED);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_PAGE_READ_ONLY)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_PAGE_SYSTEM)));
    // Filling the name box made no change the user did.
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, IDC_SHEET_APPLY)));
    SaveShot(L"pages15_file.bmp");

    SetDlgItemTextA(page, IDC_PAGE_NAME, "renamed.txt");
    Click(page, IDC_PAGE_HIDDEN);
    Click(page, IDC_PAGE_READ_ONLY);
    ASSERT_TRUE(WaitForApplyEnabled(sheet));
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    ASSERT_TRUE(WaitForClose(sheet));
    run.Join();
    EXPECT_EQ(run.Result(), 1);
    EXPECT_FALSE(devices_.Exists("Dev1\\docs\\notes.txt"));
    ASSERT_TRUE(devices_.Exists("Dev1\\docs\\renamed.txt"));
    DWORD attributes = devices_.Attributes("Dev1\\docs\\renamed.txt");
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(Pages15Test, ASystemFileIsNotRenamedButItsBoxesStillReachTheDevice) {
    SetFileAttributesA(devices_.PcPath("Dev1\\docs\\notes.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    PageSheetRun run(devices_, "System file",
                     {ClassOf<devlink15::ZvFilePropPage15>(devlink15::kClsidZvFilePropPage15)},
                     FileItem("notes.txt", 8));
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_PAGE_SYSTEM), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_PAGE_READ_ONLY))); // system items keep it

    SetDlgItemTextA(page, IDC_PAGE_NAME, "other.txt");
    Click(page, IDC_PAGE_HIDDEN);
    ASSERT_TRUE(WaitForApplyEnabled(sheet));
    ASSERT_TRUE(ClickButton(sheet, IDC_SHEET_APPLY));
    EXPECT_TRUE(DismissMessageBox(L"Tavrilon - device warning"));
    // Refused before the hub was asked; the old name is back and the box change is pending.
    EXPECT_EQ(WaitForControlText(page, IDC_PAGE_NAME, "notes.txt"), "notes.txt");
    EXPECT_TRUE(devices_.Exists("Dev1\\docs\\notes.txt"));
    EXPECT_FALSE(devices_.Attributes("Dev1\\docs\\notes.txt") & FILE_ATTRIBUTE_HIDDEN);

    ASSERT_TRUE(ClickButton(sheet, IDOK));
    ASSERT_TRUE(WaitForClose(sheet));
    run.Join();
    DWORD attributes = devices_.Attributes("Dev1\\docs\\notes.txt");
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(Pages15Test, ARenameTheDeviceRefusesShowsItsErrorAndPutsTheOldNameBack) {
    PageSheetRun run(devices_, "Refused rename",
                     {ClassOf<devlink15::ZvFilePropPage15>(devlink15::kClsidZvFilePropPage15)},
                     FileItem("notes.txt"));
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    SetDlgItemTextA(page, IDC_PAGE_NAME, "taken.txt");
    ASSERT_TRUE(WaitForApplyEnabled(sheet));
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    // The device's own text, in a box captioned with the program's title.
    EXPECT_TRUE(DismissMessageBox(L"Tavrilon"));
    EXPECT_EQ(WaitForControlText(page, IDC_PAGE_NAME, "notes.txt"), "notes.txt");
    EXPECT_TRUE(IsWindow(sheet)); // the failed page keeps the sheet open
    ASSERT_TRUE(ClickButton(sheet, IDCANCEL));
    run.Join();
    EXPECT_EQ(run.Result(), 2);
    EXPECT_TRUE(devices_.Exists("Dev1\\docs\\notes.txt"));
    EXPECT_TRUE(devices_.Exists("Dev1\\docs\\taken.txt"));
}

TEST_F(Pages15Test, FolderPageCountsTheContentsAndAppliesRenameAndAttributes) {
    PageSheetRun run(devices_, "Folder sheet",
                     {ClassOf<devlink15::ZvFolderPropPage15>(devlink15::kClsidZvFolderPropPage15)},
                     ShownItem{4, 0, 0, SomeTime(), "docs", "Dev1"});
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ControlText(page, IDC_PAGE_TYPE), "File Folder");
    EXPECT_EQ(ControlText(page, IDC_PAGE_NAME), "docs");
    // notes.txt, taken.txt and inner\deep.txt; the folder itself is not counted.
    EXPECT_EQ(WaitForControlText(page, IDC_PAGE_COUNTS, "3 Files, 1 Folders"), "3 Files, 1 Folders");
    EXPECT_NE(ControlText(page, IDC_PAGE_SIZE).find("(1035 bytes)"), std::string::npos);
    SaveShot(L"pages15_folder.bmp");

    SetDlgItemTextA(page, IDC_PAGE_NAME, "papers");
    Click(page, IDC_PAGE_HIDDEN);
    ASSERT_TRUE(WaitForApplyEnabled(sheet));
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    ASSERT_TRUE(WaitForClose(sheet));
    run.Join();
    EXPECT_EQ(run.Result(), 1);
    ASSERT_TRUE(devices_.Exists("Dev1\\papers\\notes.txt"));
    EXPECT_TRUE(devices_.Attributes("Dev1\\papers") & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(Pages15Test, AFolderWithOnlyItselfShowsNoFilesAndNoFolders) {
    devices_.MakeFolder("Dev1\\empty");
    PageSheetRun run(devices_, "Empty folder",
                     {ClassOf<devlink15::ZvFolderPropPage15>(devlink15::kClsidZvFolderPropPage15)},
                     ShownItem{4, 0, 0, SomeTime(), "empty", "Dev1"});
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(WaitForControlText(page, IDC_PAGE_COUNTS, "0 Files, 0 Folders"), "0 Files, 0 Folders");
    EXPECT_EQ(ControlText(page, IDC_PAGE_SIZE), "0 bytes");
    ASSERT_TRUE(ClickButton(sheet, IDOK)); // nothing changed: nothing to apply
    ASSERT_TRUE(WaitForClose(sheet));
    run.Join();
    EXPECT_EQ(run.Result(), 1);
    EXPECT_TRUE(devices_.Exists("Dev1\\empty"));
}

TEST_F(Pages15Test, MediaPageShowsTheVolumeWithItsPie) {
    PageSheetRun run(devices_, "Media sheet",
                     {ClassOf<devlink15::ZvMediaPropPage15>(devlink15::kClsidZvMediaPropPage15)},
                     ShownItem{2, 0, 0, {}, "Main", "Dev1"});
    auto [sheet, page] = run.WaitForPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ControlText(page, IDC_PAGE_TYPE), "Main");
    EXPECT_EQ(ControlText(page, IDC_MEDIA_TYPE), "Zelvan 1.5 handheld");
    for (int id : {IDC_MEDIA_USED, IDC_MEDIA_FREE, IDC_MEDIA_TOTAL})
        EXPECT_NE(ControlText(page, id).find("bytes"), std::string::npos) << id;
    SaveShot(L"pages15_media.bmp");
    // The pie's front edge and the swatches are in the chart's colours.
    RECT pageRect = {}, swatchRect = {};
    GetWindowRect(page, &pageRect);
    GetWindowRect(GetDlgItem(page, IDC_MEDIA_USED_SWATCH), &swatchRect);
    HDC dc = GetDC(page);
    COLORREF rim = GetPixel(dc, 170, 305);
    COLORREF swatch = GetPixel(dc, (swatchRect.left + swatchRect.right) / 2 - pageRect.left,
                               (swatchRect.top + swatchRect.bottom) / 2 - pageRect.top);
    ReleaseDC(page, dc);
    EXPECT_TRUE(rim == RGB(0, 0, 130) || rim == RGB(130, 0, 130)) << std::hex << rim;
    EXPECT_TRUE(swatch == RGB(0, 0, 255)) << std::hex << swatch;
    ASSERT_TRUE(ClickButton(sheet, IDOK));
    run.Join();
    EXPECT_EQ(run.Result(), 1);
}

TEST(Pages15Server, Zelvan15ServesTheThreePages) {
    com::ComApartment apartment;
    for (const CLSID* clsid : {&devlink15::kClsidZvFilePropPage15, &devlink15::kClsidZvFolderPropPage15,
                               &devlink15::kClsidZvMediaPropPage15}) {
        com::ComPtr<IPropertyPage> page;
        ASSERT_EQ(PageFromDeliverable(L"Zelvan15.dll", *clsid, page), S_OK);
        PROPPAGEINFO info = {};
        ASSERT_EQ(page->GetPageInfo(&info), S_OK);
        EXPECT_STREQ(info.pszTitle, L"General");
        CoTaskMemFree(info.pszTitle);
    }
}

} // namespace
