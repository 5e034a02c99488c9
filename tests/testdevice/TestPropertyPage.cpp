#include "TestPropertyPage.h"
#include "PropPageData.h"
#include <cwchar>

namespace tv::tests {

TestPropertyPage::~TestPropertyPage() { Deactivate(); }

STDMETHODIMP TestPropertyPage::SetPageSite(IPropertyPageSite* site) {
    site_ = site;
    return S_OK;
}

STDMETHODIMP TestPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect)
        return E_POINTER;
    window_ = CreateWindowExA(0, "STATIC", text_.c_str(), WS_CHILD, rect->left, rect->top, rect->right - rect->left,
                              rect->bottom - rect->top, parent, nullptr, nullptr, nullptr);
    return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP TestPropertyPage::Deactivate() {
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
}

STDMETHODIMP TestPropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    static const wchar_t title[] = L"Test page";
    info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(title)));
    if (info->pszTitle)
        std::wmemcpy(info->pszTitle, title, sizeof(title) / sizeof(wchar_t));
    info->size = SIZE{200, 120};
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

STDMETHODIMP TestPropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    text_ = std::to_string(count) + " objects";
    failApply_ = false;
    for (ULONG i = 0; i < count && objects; ++i) {
        com::ComPtr<IZvPropPageData> data;
        if (!objects[i] ||
            FAILED(objects[i]->QueryInterface(__uuidof(IZvPropPageData), reinterpret_cast<void**>(&data))))
            continue;
        // The item is taken and handed back, so that every page of the sheet can read it.
        ZVFILEITEM item = {};
        if (FAILED(data->GetItem(&item)))
            continue;
        text_ = std::string(item.strDesc ? item.strDesc : "") + "|" + (item.strName ? item.strName : "");
        failApply_ = item.strName && std::string(item.strName).rfind("fail", 0) == 0;
        data->SetItem(&item);
    }
    return S_OK;
}

STDMETHODIMP TestPropertyPage::Show(UINT command) {
    if (window_)
        ShowWindow(window_, static_cast<int>(command));
    return S_OK;
}

STDMETHODIMP TestPropertyPage::Move(LPCRECT rect) {
    if (!rect)
        return E_POINTER;
    if (window_)
        MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

} // namespace tv::tests
