#include "BackupProperties.h"
#include "AnsiText.h"
#include "BackupIds.h"
#include "BackupSettings.h"
#include "BackupTexts.h"
#include "DllModule.h"
#include "FileClass.h"
#include "ZvDevice.h"

namespace tv::backup {

namespace {

struct FlagBox {
    int control;
    DWORD bit;
};
constexpr FlagBox kFlagBoxes[] = {{IDC_BACKUP_APPS, kApplications},           {IDC_BACKUP_MUSIC, kMusic},
                                  {IDC_BACKUP_SYSTEM, kSystemFiles},          {IDC_BACKUP_OTHER, kOtherFiles},
                                  {IDC_BACKUP_NO_BACKUP_OFFER, kNoBackupOffer}, {IDC_BACKUP_NO_RESTORE_OFFER, kNoRestoreOffer}};

// The size of the page's template in pixels, as the dialog would have it.
SIZE TemplateSize(HMODULE language) {
    SIZE size = {300, 200};
    HWND probe = CreateDialogParamA(language, MAKEINTRESOURCEA(IDD_BACKUP_PROPERTIES), GetDesktopWindow(),
                                    [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (probe) {
        RECT rect;
        GetWindowRect(probe, &rect);
        size = {rect.right - rect.left, rect.bottom - rect.top};
        DestroyWindow(probe);
    }
    return size;
}

} // namespace

BackupProperties::~BackupProperties() {
    if (window_)
        DestroyWindow(window_);
}

STDMETHODIMP BackupProperties::SetPageSite(IPropertyPageSite* pPageSite) {
    if (pPageSite && site_)
        return E_UNEXPECTED;
    site_ = pPageSite;
    return S_OK;
}

STDMETHODIMP BackupProperties::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
    if (!ppUnk)
        return E_POINTER;
    if (cObjects < 3 || !ppUnk[0])
        return E_INVALIDARG;
    com::ComPtr<IZvDevice> device;
    HRESULT hr = ppUnk[0]->QueryInterface(__uuidof(IZvDevice), reinterpret_cast<void**>(&device));
    if (FAILED(hr))
        return hr;
    unsigned char id[9] = {};
    hr = device->GetStrID(sizeof(id), id);
    if (FAILED(hr))
        return hr;
    deviceId_.assign(reinterpret_cast<char*>(id), strnlen(reinterpret_cast<char*>(id), sizeof(id)));
    return S_OK;
}

STDMETHODIMP BackupProperties::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    if (!pPageInfo)
        return E_POINTER;
    HMODULE language = dll::LanguageLibrary();
    const std::wstring title = com::FromAnsi(LoadText(language, IDS_BACKUP_PAGE_TITLE));
    pPageInfo->cb = sizeof(*pPageInfo);
    pPageInfo->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc((title.size() + 1) * sizeof(wchar_t)));
    if (!pPageInfo->pszTitle)
        return E_OUTOFMEMORY;
    wcscpy(pPageInfo->pszTitle, title.c_str());
    pPageInfo->size = TemplateSize(language);
    pPageInfo->pszDocString = nullptr;
    pPageInfo->pszHelpFile = nullptr;
    pPageInfo->dwHelpContext = 0;
    return S_OK;
}

STDMETHODIMP BackupProperties::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
    if (!pRect)
        return E_POINTER;
    if (window_)
        return S_OK;
    window_ = CreateDialogParamA(dll::LanguageLibrary(), MAKEINTRESOURCEA(IDD_BACKUP_PROPERTIES), hWndParent,
                                 DialogProc, reinterpret_cast<LPARAM>(this));
    if (!window_)
        return E_FAIL;
    filling_ = true;
    const DWORD flags = ReadBackupFlags(deviceId_);
    for (const FlagBox& box : kFlagBoxes)
        CheckDlgButton(window_, box.control, (flags & box.bit) ? BST_CHECKED : BST_UNCHECKED);
    filling_ = false;
    Move(pRect);
    return S_OK;
}

STDMETHODIMP BackupProperties::Deactivate() {
    if (window_) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    return S_OK;
}

STDMETHODIMP BackupProperties::Show(UINT nCmdShow) {
    if (!window_)
        return E_UNEXPECTED;
    ShowWindow(window_, nCmdShow);
    return S_OK;
}

STDMETHODIMP BackupProperties::Move(LPCRECT pRect) {
    if (!pRect)
        return E_POINTER;
    if (window_)
        MoveWindow(window_, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, TRUE);
    return S_OK;
}

DWORD BackupProperties::FlagsOfPage(HWND page) {
    DWORD flags = 0;
    for (const FlagBox& box : kFlagBoxes)
        if (IsDlgButtonChecked(page, box.control) == BST_CHECKED)
            flags |= box.bit;
    return flags;
}

STDMETHODIMP BackupProperties::Apply() {
    if (!dirty_)
        return S_OK;
    if (!window_ || !WriteBackupFlags(deviceId_, FlagsOfPage(window_)))
        return E_FAIL;
    SetDirty(false);
    return S_OK;
}

STDMETHODIMP BackupProperties::TranslateAccelerator(MSG* pMsg) {
    if (!pMsg)
        return E_POINTER;
    return window_ && IsDialogMessageA(window_, pMsg) ? S_OK : S_FALSE;
}

void BackupProperties::SetDirty(bool dirty) {
    dirty_ = dirty;
    if (site_)
        site_->OnStatusChange(dirty ? (PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE) : PROPPAGESTATUS_CLEAN);
}

INT_PTR CALLBACK BackupProperties::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<BackupProperties*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && !self->filling_)
        self->SetDirty(true);
    return FALSE;
}

} // namespace tv::backup
