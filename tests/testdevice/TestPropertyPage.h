// A small property page for tests of the property sheets: its window is one static text that
// names what the page received (the item's name when it got an item, else the number of
// objects); it refuses Apply for an item whose name begins with "fail".
#pragma once
#include "ComObject.h"
#include <ocidl.h>
#include <string>

namespace tv::tests {

class TestPropertyPage : public com::ComObject<TestPropertyPage, IPropertyPage> {
public:
    ~TestPropertyPage() override;

    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT command) override;
    STDMETHODIMP Move(LPCRECT rect) override;
    STDMETHODIMP IsPageDirty() override { return S_FALSE; }
    STDMETHODIMP Apply() override { return failApply_ ? E_FAIL : S_OK; }
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    com::ComPtr<IPropertyPageSite> site_;
    HWND window_ = nullptr;
    std::string text_;
    bool failApply_ = false;
};

} // namespace tv::tests
