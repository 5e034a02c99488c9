#include "ItemPageCore.h"
#include "ItemTexts.h"
#include "LanguageLibrary.h"
#include "PropPageData.h"
#include <atomic>
#include <string>
#include <vector>

namespace tv::pages {
namespace {

constexpr size_t kMaxName = 256;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

LPOLESTR TaskWideCopy(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(OLECHAR) * (length > 0 ? length : 1)));
    if (!copy)
        return nullptr;
    copy[0] = 0;
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, copy, length);
    return copy;
}

void FreeItem(ZVFILEITEM& item) {
    CoTaskMemFree(item.strName);
    CoTaskMemFree(item.strDesc);
    CoTaskMemFree(item.strIconFile);
    item = {};
}

} // namespace

HRESULT CreateHub(com::ComPtr<IZelvanMgr>& hub) {
    hub.Reset();
    return CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgr),
                            reinterpret_cast<void**>(&hub));
}

ItemPageCore::ItemPageCore(PageTemplate pageTemplate)
    : template_(pageTemplate), resources_(LoadLanguageLibrary(ThisModule())) {}

ItemPageCore::~ItemPageCore() {
    if (window_)
        DestroyWindow(window_);
    FreeItem(item_);
}

std::string ItemPageCore::LanguageText(UINT id) const {
    char text[1024] = {};
    if (!resources_ || LoadStringA(resources_.Get(), id, text, sizeof(text)) <= 0)
        return {};
    return text;
}

HRESULT ItemPageCore::SetPageSite(IPropertyPageSite* site) {
    if (site && site_)
        return E_UNEXPECTED;
    site_ = site;
    return S_OK;
}

HRESULT ItemPageCore::SetObjects(ULONG count, IUnknown** objects) {
    if (count > 1)
        return E_INVALIDARG;
    if (count == 0)
        return S_OK; // the sheet lets go of its objects; the page keeps its copy of the item
    if (!objects || !objects[0])
        return E_INVALIDARG;
    com::ComPtr<IZvPropPageData> data;
    if (FAILED(objects[0]->QueryInterface(__uuidof(IZvPropPageData), reinterpret_cast<void**>(&data))))
        return E_INVALIDARG;
    ZVFILEITEM item = {};
    HRESULT hr = data->GetItem(&item);
    if (FAILED(hr))
        return hr;
    FreeItem(item_);
    item_ = item;
    fullPath_.clear();
    return S_OK;
}

HWND ItemPageCore::CreatePageWindow(HWND parent) {
    if (!resources_)
        return nullptr;
    HWND window = CreateDialogParamA(resources_.Get(), MAKEINTRESOURCEA(template_.dialogId), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    if (!window)
        return nullptr;
    // A page is a plain child inside the sheet: a caption of the template only names the page.
    LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    if (style & WS_CAPTION) {
        SetWindowLongPtrA(window, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_CAPTION)) | WS_CHILD);
        SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    SetWindowLongPtrA(window, GWL_EXSTYLE, GetWindowLongPtrA(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    return window;
}

// The template's size and caption, read from a window made of it and destroyed at once.
HRESULT ItemPageCore::MeasureTemplate() {
    if (measured_)
        return S_OK;
    if (!resources_ || !FindResourceA(resources_.Get(), MAKEINTRESOURCEA(template_.dialogId), RT_DIALOG))
        return E_UNEXPECTED;
    char caption[256] = {};
    {
        com::UniqueWindow probe(CreateDialogParamA(resources_.Get(), MAKEINTRESOURCEA(template_.dialogId),
                                                   GetDesktopWindow(), DialogProc, 0));
        if (!probe)
            return E_UNEXPECTED;
        GetWindowTextA(probe.Get(), caption, sizeof(caption));
        RECT client = {};
        GetClientRect(probe.Get(), &client);
        // The page shows its client area only (a caption is taken off when it is made).
        size_ = {client.right - client.left, client.bottom - client.top};
    }
    title_ = template_.titleStringId ? LanguageText(template_.titleStringId) : caption;
    measured_ = true;
    return S_OK;
}

HRESULT ItemPageCore::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    HRESULT hr = MeasureTemplate();
    if (FAILED(hr))
        return hr;
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = TaskWideCopy(title_);
    info->size = size_;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return info->pszTitle ? S_OK : E_OUTOFMEMORY;
}

HRESULT ItemPageCore::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (window_)
        return E_UNEXPECTED;
    window_ = CreatePageWindow(parent);
    if (!window_)
        return E_FAIL;
    if (rect)
        MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    RECT shown = {};
    GetWindowRect(window_, &shown);
    size_ = {shown.right - shown.left, shown.bottom - shown.top};
    firstNameChange_ = true;
    return FillControls();
}

HRESULT ItemPageCore::Deactivate() {
    if (window_) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    return S_OK;
}

HRESULT ItemPageCore::Show(UINT command) {
    if (!window_)
        return E_UNEXPECTED;
    ShowWindow(window_, static_cast<int>(command));
    return S_OK;
}

HRESULT ItemPageCore::Move(LPCRECT rect) {
    if (!window_)
        return E_UNEXPECTED;
    if (!rect)
        return E_POINTER;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

namespace {
std::atomic<ItemPageCore::WinHelpCall> g_winHelp{&WinHelpW};
} // namespace

void ItemPageCore::SetWinHelp(WinHelpCall call) { g_winHelp = call ? call : &WinHelpW; }

HRESULT ItemPageCore::Help(LPCOLESTR directory) {
    // The pages carry no help file name of their own, so the path is the directory and a backslash.
    std::wstring path = directory ? directory : L"";
    path += L'\\';
    path += helpFile_;
    return g_winHelp.load()(window_, path.c_str(), HELP_CONTEXTPOPUP, 0) ? S_OK : E_FAIL;
}

HRESULT ItemPageCore::TranslateAccelerator(MSG* message) {
    if (!message || !window_)
        return S_FALSE;
    bool keyboard = message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST;
    bool mouse = message->message >= WM_MOUSEFIRST && message->message <= WM_MOUSEWHEEL;
    if (!keyboard && !mouse)
        return S_FALSE;
    return IsDialogMessageA(window_, message) ? S_OK : S_FALSE;
}

void ItemPageCore::SetDirty(bool dirty) {
    if (dirty_ == dirty)
        return;
    dirty_ = dirty;
    if (site_)
        site_->OnStatusChange(dirty ? PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE : 0);
}

void ItemPageCore::SetControlText(int id, const std::string& text) const {
    SetDlgItemTextA(window_, id, text.c_str());
}

std::string ItemPageCore::ControlText(int id, size_t maxLength) const {
    std::vector<char> text(maxLength + 1);
    GetDlgItemTextA(window_, id, text.data(), static_cast<int>(text.size()));
    return text.data();
}

int ItemPageCore::ShowMessage(HWND owner, const std::string& text, UINT captionId, UINT style) const {
    return MessageBoxA(owner, text.c_str(), LanguageText(captionId).c_str(), style);
}

void ItemPageCore::FillNameBox() {
    SetControlText(kNameBox, ItemName());
}

const std::string& ItemPageCore::FullPath() {
    if (fullPath_.empty())
        fullPath_ = JoinItemPath(ItemFolder(), ItemName());
    return fullPath_;
}

std::string ItemPageCore::PathForName(const std::string& name) const {
    return JoinItemPath(ItemFolder(), name);
}

HRESULT ItemPageCore::RenameFromNameBox(IZelvanMgr* hub, bool& renamed, std::string& error) {
    renamed = false;
    error.clear();
    const std::string newPath = PathForName(ControlText(kNameBox, kMaxName));
    if (newPath == FullPath())
        return S_OK;
    std::vector<unsigned char> errorText(kMaxName + 1, 0);
    std::string from = FullPath();
    HRESULT hr = hub->RenameFileItem(from.data(), const_cast<LPSTR>(newPath.c_str()),
                                     static_cast<LONG>(kMaxName), errorText.data());
    if (hr != S_OK) {
        error = reinterpret_cast<const char*>(errorText.data());
        return AsFailure(hr);
    }
    fullPath_ = newPath;
    renamed = true;
    return S_OK;
}

void ItemPageCore::OnCommand(WORD id, WORD code) {
    if (id == kNameBox && code == EN_CHANGE) {
        if (firstNameChange_)
            firstNameChange_ = false;
        else
            SetDirty(true);
    }
}

INT_PTR CALLBACK ItemPageCore::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return TRUE;
    }
    auto* page = reinterpret_cast<ItemPageCore*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!page)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        page->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (dc)
            page->OnPaint(dc);
        EndPaint(window, &paint);
        return TRUE;
    }
    case WM_NOTIFY:
        return page->OnNotify(reinterpret_cast<NMHDR*>(lParam)) ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

} // namespace tv::pages
