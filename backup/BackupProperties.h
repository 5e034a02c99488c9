// The "Backup" page of the device property sheet: the device's backup flag word.
#pragma once
#include "ComObject.h"
#include <windows.h>
#include <ocidl.h>
#include <string>

namespace tv::backup {

class BackupProperties : public com::ComObject<BackupProperties, IPropertyPage> {
public:
    ~BackupProperties() override;

    STDMETHODIMP SetPageSite(IPropertyPageSite* pPageSite) override;
    STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    STDMETHODIMP Show(UINT nCmdShow) override;
    STDMETHODIMP Move(LPCRECT pRect) override;
    STDMETHODIMP IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG* pMsg) override;

    // The bits of the flag word the page shows, by check box.
    static DWORD FlagsOfPage(HWND page);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void SetDirty(bool dirty);

    com::ComPtr<IPropertyPageSite> site_;
    HWND window_ = nullptr;
    std::string deviceId_;
    bool dirty_ = false;
    bool filling_ = false;
};

} // namespace tv::backup
