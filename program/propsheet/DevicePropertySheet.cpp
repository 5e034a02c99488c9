#include "DevicePropertySheet.h"
#include "AnsiText.h"
#include "HubIds.h"
#include <commctrl.h>
#include <algorithm>

namespace tv {
namespace {

constexpr LONG kMinimumWidth = 270;
constexpr LONG kButtonWidth = 80;
constexpr LONG kButtonHeight = 25;
constexpr LONG kTabLeft = 5;
constexpr LONG kTabTop = 5;
constexpr int kOverrunsBeforeHiddenPage = 25;

} // namespace

DevicePropertySheet::DevicePropertySheet(HMODULE resources) : resources_(resources) {}

DevicePropertySheet::~DevicePropertySheet() {
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    for (Page& page : pages_) {
        if (page.activated)
            page.page->Deactivate();
        page.page->SetObjects(0, nullptr);
        page.page->SetPageSite(nullptr);
    }
    pages_.clear();
}

void DevicePropertySheet::Setup(const std::string& caption, const std::vector<IUnknown*>& objects) {
    caption_ = caption;
    objects_.clear();
    objectPointers_.clear();
    for (IUnknown* object : objects) {
        objects_.emplace_back(object);
        objectPointers_.push_back(object);
    }
    ready_ = true;
}

void DevicePropertySheet::AddPage(REFCLSID clsid) { pageClasses_.push_back(clsid); }

void DevicePropertySheet::SetItemData(std::vector<std::string> itemNames) { itemNames_ = std::move(itemNames); }

void DevicePropertySheet::SetWindowCreatedHandler(std::function<void(HWND)> handler) {
    onWindowCreated_ = std::move(handler);
}

int DevicePropertySheet::Show() {
    if (!ready_ || window_)
        return 0;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    if (!CreateDialogParamA(resources_, MAKEINTRESOURCEA(IDD_PROPERTY_SHEET), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this)))
        return 0;
    ShowWindow(window_, SW_SHOWNORMAL);
    // The sheet's own loop; OK and Cancel end it with their quit codes.
    MSG message;
    int result = 2;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            result = static_cast<int>(message.wParam);
            break;
        }
        if (got < 0)
            break;
        if (FilterMessage(message))
            continue;
        if (window_ && IsDialogMessageA(window_, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
    return result;
}

INT_PTR CALLBACK DevicePropertySheet::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* sheet = reinterpret_cast<DevicePropertySheet*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        sheet->window_ = window;
        if (sheet->onWindowCreated_)
            sheet->onWindowCreated_(window);
        sheet->Initialise();
        return FALSE;
    }
    auto* sheet = reinterpret_cast<DevicePropertySheet*>(GetWindowLongPtrA(window, DWLP_USER));
    return sheet ? sheet->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR DevicePropertySheet::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (ApplyPages()) {
                for (Page& page : pages_)
                    if (page.activated) {
                        page.page->Deactivate();
                        page.activated = false;
                    }
                End(1);
            }
            return TRUE;
        case IDCANCEL:
            End(2);
            return TRUE;
        case IDC_SHEET_APPLY:
            ApplyPages();
            return TRUE;
        }
        break;
    case WM_CLOSE:
        End(2);
        return TRUE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_SHEET_TABS && header->code == TCN_SELCHANGE) {
            int selected = TabCtrl_GetCurSel(GetDlgItem(window_, IDC_SHEET_TABS));
            if (selected >= 0)
                SwitchTo(static_cast<size_t>(selected));
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

bool DevicePropertySheet::CreatePage(REFCLSID clsid) {
    Page page;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                reinterpret_cast<void**>(&page.page))))
        return false;
    PROPPAGEINFO info = {};
    info.cb = sizeof(info);
    if (SUCCEEDED(page.page->GetPageInfo(&info))) {
        page.title = com::TerminatedToAnsi(info.pszTitle);
        page.size = info.size;
    }
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
    page.page->SetPageSite(this);
    page.page->SetObjects(static_cast<ULONG>(objectPointers_.size()),
                          objectPointers_.empty() ? nullptr : objectPointers_.data());
    pages_.push_back(std::move(page));
    return true;
}

void DevicePropertySheet::InsertTab(size_t index) {
    TCITEMA tab = {};
    tab.mask = TCIF_TEXT;
    tab.pszText = pages_[index].title.data();
    SendDlgItemMessageA(window_, IDC_SHEET_TABS, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&tab));
}

void DevicePropertySheet::Initialise() {
    for (const CLSID& clsid : pageClasses_)
        if (CreatePage(clsid))
            InsertTab(pages_.size() - 1);
    width_ = kMinimumWidth;
    height_ = 0;
    for (const Page& page : pages_) {
        width_ = std::max(width_, page.size.cx);
        height_ = std::max(height_, page.size.cy);
    }
    SetWindowTextA(window_, caption_.c_str());
    Layout();
    initialised_ = true;
    if (pages_.empty())
        return;
    RECT area = PageRect(0);
    if (SUCCEEDED(pages_[0].page->Activate(window_, &area, TRUE)))
        pages_[0].activated = true;
    current_ = 0;
    // The window: pages' area plus the frame, centred on the screen.
    RECT windowRect, clientRect;
    GetWindowRect(window_, &windowRect);
    GetClientRect(window_, &clientRect);
    LONG frame = (windowRect.bottom - windowRect.top) - (clientRect.bottom - clientRect.top);
    LONG windowWidth = width_ + 15, windowHeight = height_ + frame + 81;
    RECT work = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(window_, nullptr, work.left + (work.right - work.left - windowWidth) / 2,
                 work.top + (work.bottom - work.top - windowHeight) / 2, windowWidth, windowHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    pages_[0].page->Show(SW_SHOW);
    EnableWindow(GetDlgItem(window_, IDC_SHEET_APPLY), FALSE);
    SetForegroundWindow(window_);
}

void DevicePropertySheet::Layout() {
    LONG buttonsTop = height_ + 45;
    const struct {
        int id;
        LONG left;
    } buttons[] = {{IDOK, width_ - 270}, {IDC_SHEET_APPLY, width_ - 180}, {IDCANCEL, width_ - 90}};
    for (const auto& button : buttons)
        SetWindowPos(GetDlgItem(window_, button.id), nullptr, button.left, buttonsTop, kButtonWidth, kButtonHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(GetDlgItem(window_, IDC_SHEET_TABS), HWND_BOTTOM, kTabLeft, kTabTop, width_ + 5, height_ + 30,
                 SWP_NOACTIVATE);
}

RECT DevicePropertySheet::PageRect(LONG extraHeight) const {
    HWND tabs = GetDlgItem(window_, IDC_SHEET_TABS);
    RECT area = {};
    GetClientRect(tabs, &area);
    TabCtrl_AdjustRect(tabs, FALSE, &area);
    MapWindowPoints(tabs, window_, reinterpret_cast<POINT*>(&area), 2);
    return RECT{area.left, area.top, area.left + width_, area.top + height_ + extraHeight};
}

void DevicePropertySheet::SwitchTo(size_t index) {
    if (index >= pages_.size())
        return;
    if (index != current_ && current_ < pages_.size() && pages_[current_].activated)
        pages_[current_].page->Show(SW_HIDE);
    Page& target = pages_[index];
    if (!target.activated) {
        RECT area = PageRect(25);
        if (SUCCEEDED(target.page->Activate(window_, &area, TRUE)))
            target.activated = true;
    }
    if (target.activated)
        target.page->Show(SW_SHOW);
    current_ = index;
    HWND tabs = GetDlgItem(window_, IDC_SHEET_TABS);
    if (TabCtrl_GetCurSel(tabs) != static_cast<int>(index))
        TabCtrl_SetCurSel(tabs, static_cast<int>(index));
    UpdateApply();
}

void DevicePropertySheet::UpdateApply() {
    bool dirty = std::any_of(pages_.begin(), pages_.end(),
                             [](const Page& page) { return page.activated && page.page->IsPageDirty() == S_OK; });
    EnableWindow(GetDlgItem(window_, IDC_SHEET_APPLY), dirty);
}

bool DevicePropertySheet::ApplyPages() {
    EnableWindow(GetDlgItem(window_, IDC_SHEET_APPLY), FALSE);
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (!pages_[i].activated)
            continue;
        if (FAILED(pages_[i].page->Apply())) {
            SwitchTo(i);
            return false;
        }
    }
    return true;
}

void DevicePropertySheet::End(int code) {
    for (Page& page : pages_)
        if (page.activated) {
            page.page->Deactivate();
            page.activated = false;
        }
    DestroyWindow(window_);
    window_ = nullptr;
    PostQuitMessage(code);
}

bool DevicePropertySheet::FilterMessage(const MSG& message) {
    if (!window_ || (message.hwnd != window_ && !IsChild(window_, message.hwnd)))
        return false;
    if (message.message == WM_KEYUP && (message.wParam == VK_CONTROL || message.wParam == VK_SHIFT)) {
        keyState_ = 0;
        return false;
    }
    if (message.message != WM_KEYDOWN)
        return false;
    switch (message.wParam) {
    case VK_CONTROL:
        keyState_ = 1;
        return false;
    case VK_SHIFT:
        keyState_ = -1;
        return false;
    case VK_TAB:
        if (keyState_ == 1) {
            MoveNext();
            return true;
        }
        if (keyState_ == -1) {
            MovePrevious();
            return true;
        }
        return false;
    default:
        keyState_ = 0;
        return false;
    }
}

void DevicePropertySheet::MoveNext() {
    if (current_ + 1 < pages_.size()) {
        overruns_ = 0;
        SwitchTo(current_ + 1);
        return;
    }
    ++overruns_;
    if (!hiddenPageAdded_ && overruns_ > kOverrunsBeforeHiddenPage && itemNames_.size() == 1 &&
        itemNames_[0] == "Tvl") {
        hiddenPageAdded_ = true;
        if (CreatePage(CLSID_TvlPlus))
            InsertTab(pages_.size() - 1);
    }
}

void DevicePropertySheet::MovePrevious() {
    overruns_ = 0;
    if (current_ > 0)
        SwitchTo(current_ - 1);
}

STDMETHODIMP DevicePropertySheet::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPageSite)) {
        *ppv = static_cast<IPropertyPageSite*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP DevicePropertySheet::OnStatusChange(DWORD flags) {
    if (initialised_ && window_ && (flags == PROPPAGESTATUS_DIRTY || flags == (PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE)))
        EnableWindow(GetDlgItem(window_, IDC_SHEET_APPLY), TRUE);
    return S_OK;
}

STDMETHODIMP DevicePropertySheet::GetLocaleID(LCID* localeId) {
    if (!localeId)
        return E_POINTER;
    *localeId = 0;
    return S_OK;
}

STDMETHODIMP DevicePropertySheet::GetPageContainer(IUnknown** container) {
    if (container)
        *container = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP DevicePropertySheet::TranslateAccelerator(MSG*) { return S_FALSE; }

} // namespace tv
