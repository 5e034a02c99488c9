// The shared part of the item pages without a sheet: texts, the pie's plan, and the page
// mechanics a property sheet relies on (site, objects, page information, dirty reports).
#include "ItemPageCore.h"
#include "ItemTexts.h"
#include "PieChart.h"
#include "PropPageData.h"
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <cstring>

using namespace tv;
using namespace tv::pages;

namespace {

TEST(ItemTexts, SizesBelow1024AreBytesAndLargerOnesShortTextFirst) {
    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(1023), "1023 bytes");
    char shortText[64] = {};
    StrFormatByteSize64A(1024, shortText, sizeof(shortText));
    EXPECT_EQ(SizeText(1024), std::string(shortText) + " (1024 bytes)");
    // Volumes of 4 GB and more and files of 2 GB and more keep their real size.
    EXPECT_NE(SizeText(5368709120ULL).find("(5368709120 bytes)"), std::string::npos);
    EXPECT_NE(SizeText(static_cast<ULONG>(-2147483647 - 1)).find("(2147483648 bytes)"), std::string::npos);
}

TEST(ItemTexts, FileTimesAndPaths) {
    SYSTEMTIME time = {2023, 12, 0, 31, 23, 59, 0, 0};
    FILETIME file = {};
    ASSERT_TRUE(SystemTimeToFileTime(&time, &file));
    std::string shown =
        FileTimeText(static_cast<long>(file.dwLowDateTime), static_cast<long>(file.dwHighDateTime), false);
    char date[64] = {}, clock[64] = {};
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, &time, nullptr, date, sizeof(date));
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &time, nullptr, clock, sizeof(clock));
    EXPECT_EQ(shown, std::string(date) + " " + clock);
    EXPECT_EQ(JoinItemPath("Dev1\\docs", "a.txt"), "Dev1\\docs\\a.txt");
}

TEST(PieChart, NothingUsedOrFreeIsAFullBlueDisc) {
    PieChartPlan plan = PlanPieChart(0, 0, {0, 0});
    EXPECT_EQ(plan.main, kUsedColour);
    EXPECT_EQ(plan.other, kUsedColour);
    EXPECT_EQ(plan.dark, RGB(0, 0, 130));
    EXPECT_FALSE(plan.otherIsSlice);
    EXPECT_EQ(plan.box.left, 60);
    EXPECT_EQ(plan.box.top, 220);
    EXPECT_EQ(plan.centre.x, 170);
    EXPECT_EQ(plan.centre.y, 260);
}

TEST(PieChart, EqualSharesSplitFrontAndBack) {
    PieChartPlan plan = PlanPieChart(500, 500, {10, 20});
    EXPECT_EQ(plan.main, kUsedColour);
    EXPECT_EQ(plan.other, kFreeColour);
    EXPECT_TRUE(plan.otherIsSlice);
    // Both slices meet right of the centre on its horizontal (the half turn is a hair short of
    // pi, so the radial's x is truncated to 99): blue runs from the left point through the front
    // to there, magenta from there through the back to the left point.
    EXPECT_EQ(plan.mainEnd.x, plan.centre.x + 99);
    EXPECT_EQ(plan.mainEnd.y, plan.centre.y);
    EXPECT_EQ(plan.otherStart.x, plan.centre.x + 99);
    EXPECT_EQ(plan.otherStart.y, plan.centre.y);
}

TEST(PieChart, AShareUnderOnePercentTakesTheOthersColour) {
    PieChartPlan mostlyFree = PlanPieChart(1, 1000, {0, 0});
    EXPECT_EQ(mostlyFree.main, kFreeColour);
    EXPECT_EQ(mostlyFree.other, kFreeColour);
    PieChartPlan mostlyUsed = PlanPieChart(30000, 200, {0, 0});
    EXPECT_EQ(mostlyUsed.main, kUsedColour);
    EXPECT_EQ(mostlyUsed.other, kUsedColour);
    PieChartPlan moreFree = PlanPieChart(300, 700, {0, 0});
    EXPECT_EQ(moreFree.main, kFreeColour);
    EXPECT_EQ(moreFree.other, kUsedColour);
    EXPECT_EQ(moreFree.dark, RGB(130, 0, 130));
}

// A page over the 1.5 media template that fills nothing.
class PlainPage : public ItemPageCore {
  public:
    explicit PlainPage(UINT dialogId) : ItemPageCore({dialogId, IDS_PAGE_TITLE_15}) {}
    using ItemPageCore::Item;
    using ItemPageCore::SetDirty;

  protected:
    HRESULT FillControls() override { return S_OK; }
};

class CountingSite : public com::ComObject<CountingSite, IPropertyPageSite> {
  public:
    std::vector<DWORD> changes;
    STDMETHODIMP OnStatusChange(DWORD flags) override {
        changes.push_back(flags);
        return S_OK;
    }
    STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
};

class OneItem : public com::ComObject<OneItem, IZvPropPageData> {
  public:
    STDMETHODIMP GetItem(ZVFILEITEM* item) override {
        *item = {};
        item->type = 2;
        item->strName = static_cast<LPSTR>(CoTaskMemAlloc(5));
        std::strcpy(item->strName, "Main");
        return S_OK;
    }
    STDMETHODIMP Unused4() override { return E_NOTIMPL; }
    STDMETHODIMP SetItem(const ZVFILEITEM*) override { return E_NOTIMPL; }
    STDMETHODIMP Unused6() override { return E_NOTIMPL; }
};

class PageMechanics : public testing::Test {
  protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(PageMechanics, SiteObjectsAndWindowlessCallsAnswerAsASheetExpects) {
    PlainPage page(IDD_MEDIA_PAGE_15);
    com::ComPtr<CountingSite> site, second;
    com::MakeComObject(site);
    com::MakeComObject(second);
    EXPECT_EQ(page.SetPageSite(site.Get()), S_OK);
    EXPECT_EQ(page.SetPageSite(second.Get()), E_UNEXPECTED);
    EXPECT_EQ(page.SetPageSite(nullptr), S_OK);
    EXPECT_EQ(page.SetPageSite(second.Get()), S_OK);

    com::ComPtr<OneItem> item;
    com::MakeComObject(item);
    IUnknown* objects[2] = {item->AsUnknown(), item->AsUnknown()};
    EXPECT_EQ(page.SetObjects(2, objects), E_INVALIDARG);
    IUnknown* none[1] = {nullptr};
    EXPECT_EQ(page.SetObjects(1, none), E_INVALIDARG);
    IUnknown* notData[1] = {second->AsUnknown()};
    EXPECT_EQ(page.SetObjects(1, notData), E_INVALIDARG);
    EXPECT_EQ(page.SetObjects(1, objects), S_OK);
    EXPECT_STREQ(page.Item().strName, "Main");

    RECT rect = {0, 0, 10, 10};
    EXPECT_EQ(page.Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page.Move(&rect), E_UNEXPECTED);
    EXPECT_EQ(page.IsPageDirty(), S_FALSE);
    page.SetDirty(true);
    page.SetDirty(true);
    EXPECT_EQ(page.IsPageDirty(), S_OK);
    page.SetDirty(false);
    ASSERT_EQ(second->changes.size(), 2u); // only real changes are reported
    EXPECT_EQ(second->changes[0], static_cast<DWORD>(PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE));
    EXPECT_EQ(second->changes[1], 0u);
}

TEST_F(PageMechanics, PageInformationComesFromTheTemplate) {
    PlainPage page(IDD_MEDIA_PAGE_15);
    EXPECT_EQ(page.GetPageInfo(nullptr), E_POINTER);
    PROPPAGEINFO info = {};
    ASSERT_EQ(page.GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"General");
    EXPECT_GT(info.size.cx, 200);
    EXPECT_GT(info.size.cy, 310); // room for the pie
    EXPECT_EQ(info.pszHelpFile, nullptr);
    CoTaskMemFree(info.pszTitle);

    PlainPage missing(1);
    EXPECT_EQ(missing.GetPageInfo(&info), E_UNEXPECTED);
}

// What the pages ask of WinHelp, and what it answers.
struct HelpCall {
    std::wstring path;
    UINT command = 0;
    BOOL answer = TRUE;
};
HelpCall g_help;
BOOL WINAPI RecordHelp(HWND, LPCWSTR path, UINT command, ULONG_PTR) {
    g_help.path = path ? path : L"<null>";
    g_help.command = command;
    return g_help.answer;
}

TEST_F(PageMechanics, HelpOpensThePagesHelpFileInTheDirectoryAsAPopUp) {
    PlainPage page(IDD_MEDIA_PAGE_15);
    tv::pages::ItemPageCore::SetWinHelp(&RecordHelp);
    g_help = {};
    EXPECT_EQ(page.Help(L"C:\\Tavrilon\\help"), S_OK);
    EXPECT_EQ(g_help.path, L"C:\\Tavrilon\\help\\");
    EXPECT_EQ(g_help.command, static_cast<UINT>(HELP_CONTEXTPOPUP));
    g_help.answer = FALSE;
    EXPECT_EQ(page.Help(L"D:\\h"), E_FAIL);
    tv::pages::ItemPageCore::SetWinHelp(nullptr);
}

} // namespace
