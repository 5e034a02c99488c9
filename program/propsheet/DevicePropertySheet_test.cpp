// The property sheet run on a thread of its own, as the hub runs it, with the test device's
// property page (registered from tvtestdevice.dll); the test drives it like a user.
#include "ComObject.h"
#include "DevicePropertySheet.h"
#include "HubIds.h"
#include "LanguageLibrary.h"
#include "PropPageData.h"
#include "TestDeviceRegistration.h"
#include "UiHarness.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cstring>
#include <thread>

using namespace tv;
using tv::com::ComPtr;

namespace {

class Dummy : public com::ComObject<Dummy, IUnknown> {};

// Hands out copies of one item, as the hub's data object does.
class FakeItemData : public com::ComObject<FakeItemData, IZvPropPageData> {
public:
    explicit FakeItemData(const char* name) : name_(name) {}
    STDMETHODIMP GetItem(ZVFILEITEM* item) override {
        *item = {};
        item->strName = Copy(name_.c_str());
        item->strDesc = Copy("Dev1");
        return S_OK;
    }
    STDMETHODIMP Unused4() override { return E_NOTIMPL; }
    STDMETHODIMP SetItem(const ZVFILEITEM* item) override {
        CoTaskMemFree(item->strName);
        CoTaskMemFree(item->strDesc);
        CoTaskMemFree(item->strIconFile);
        return S_OK;
    }
    STDMETHODIMP Unused6() override { return E_NOTIMPL; }

private:
    static LPSTR Copy(const char* text) {
        auto* copy = static_cast<char*>(CoTaskMemAlloc(std::strlen(text) + 1));
        std::strcpy(copy, text);
        return copy;
    }
    std::string name_;
};

struct SheetSpec {
    const char* caption;
    int dummies = 0;
    const char* itemName = nullptr;
    int pages = 2;
};

// Runs one sheet on its own single-threaded apartment; joined by the test.
class SheetThread {
public:
    explicit SheetThread(SheetSpec spec) : thread_([this, spec] { Run(spec); }) {}
    ~SheetThread() { Join(); }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    int result = -1;
    LONG width = 0;

private:
    void Run(SheetSpec spec) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            HMODULE language = LoadLanguageLibrary(GetModuleHandleA(nullptr));
            std::vector<ComPtr<IUnknown>> kept;
            std::vector<IUnknown*> objects;
            for (int i = 0; i < spec.dummies; ++i) {
                ComPtr<Dummy> dummy;
                com::MakeComObject(dummy);
                kept.emplace_back(dummy->AsUnknown());
                objects.push_back(dummy->AsUnknown());
            }
            if (spec.itemName) {
                ComPtr<FakeItemData> data;
                com::MakeComObject(data, spec.itemName);
                kept.emplace_back(data->AsUnknown());
                objects.push_back(data->AsUnknown());
            }
            DevicePropertySheet sheet(language);
            sheet.Setup(spec.caption, objects);
            for (int i = 0; i < spec.pages; ++i)
                sheet.AddPage(tests::CLSID_TestPropertyPage);
            sheet.AddPage(CLSID_NULL);  // a class that cannot be made is left out
            result = sheet.Show();
            width = sheet.PagesWidth();
            FreeLibrary(language);
        }
        CoUninitialize();
    }
    std::thread thread_;
};

int CurrentTab(HWND sheet) {
    return static_cast<int>(SendDlgItemMessageA(sheet, IDC_SHEET_TABS, TCM_GETCURSEL, 0, 0));
}

bool WaitForTab(HWND sheet, int tab) {
    for (int i = 0; i < 100; ++i) {
        if (CurrentTab(sheet) == tab)
            return true;
        Sleep(50);
    }
    return false;
}

void PressCtrlTab(HWND sheet) {
    PostMessageA(sheet, WM_KEYDOWN, VK_CONTROL, 0);
    PostMessageA(sheet, WM_KEYDOWN, VK_TAB, 0);
}

class PropertySheetTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(tv::tests::EnsureTestDeviceFactoryRegistered(), S_OK);
    }
};

// A label of the sheet's first page; the sheet has its caption before that page is made.
HWND WaitForLabel(HWND sheet, const char* text) {
    HWND label = nullptr;
    test::PollUntil([&] { return (label = FindWindowExA(sheet, nullptr, "Static", text)) != nullptr; }, 5000);
    return label;
}

TEST_F(PropertySheetTest, ShowsThePagesWithTheirObjectsMovesByKeyboardAndEndsWithOk) {
    SheetThread run({"Sheet test", 4});
    HWND sheet = test::WaitForWindow(L"#32770", L"Sheet test", 15000);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(SendDlgItemMessageA(sheet, IDC_SHEET_TABS, TCM_GETITEMCOUNT, 0, 0), 2);
    // The first page was activated and received the four objects.
    EXPECT_NE(WaitForLabel(sheet, "4 objects"), nullptr);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, IDC_SHEET_APPLY)));
    Sleep(500);  // lets the sheet paint before the screenshot
    test::SaveScreenshot(test::ExeFolder() + L"\\propsheet_two_pages.bmp");

    PressCtrlTab(sheet);
    EXPECT_TRUE(WaitForTab(sheet, 1));
    // Shift+Tab goes back; Ctrl+Tab on the last page stays there.
    PostMessageA(sheet, WM_KEYDOWN, VK_SHIFT, 0);
    PostMessageA(sheet, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(WaitForTab(sheet, 0));
    PressCtrlTab(sheet);
    PressCtrlTab(sheet);
    EXPECT_TRUE(WaitForTab(sheet, 1));

    ASSERT_TRUE(test::ClickButton(sheet, IDOK));
    run.Join();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.width, 270);  // the pages are 200 wide
    EXPECT_FALSE(IsWindow(sheet));
}

TEST_F(PropertySheetTest, APageThatFailsToApplyKeepsTheSheetOpenOnThatPage) {
    SheetThread run({"Failing sheet", 0, "fail.txt"});
    HWND sheet = test::WaitForWindow(L"#32770", L"Failing sheet", 15000);
    ASSERT_NE(sheet, nullptr);
    EXPECT_NE(WaitForLabel(sheet, "Dev1|fail.txt"), nullptr);
    PressCtrlTab(sheet);
    ASSERT_TRUE(WaitForTab(sheet, 1));
    ASSERT_TRUE(test::ClickButton(sheet, IDOK));
    EXPECT_TRUE(WaitForTab(sheet, 0));
    Sleep(300);
    EXPECT_TRUE(IsWindow(sheet));
    ASSERT_TRUE(test::ClickButton(sheet, IDCANCEL));
    run.Join();
    EXPECT_EQ(run.result, 2);
}

TEST_F(PropertySheetTest, ACloseRequestCancelsAndASheetWithoutPagesStillShows) {
    SheetThread run({"Empty sheet", 0, nullptr, 0});
    HWND sheet = test::WaitForWindow(L"#32770", L"Empty sheet", 15000);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(SendDlgItemMessageA(sheet, IDC_SHEET_TABS, TCM_GETITEMCOUNT, 0, 0), 0);
    PostMessageA(sheet, WM_CLOSE, 0, 0);
    run.Join();
    EXPECT_EQ(run.result, 2);
}

} // namespace
