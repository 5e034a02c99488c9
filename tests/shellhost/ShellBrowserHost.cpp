#include "ShellBrowserHost.h"

namespace tv::test {
namespace {

constexpr char kWorkerClass[] = "WorkerW";

bool RegisterClassNamed(const char* name) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool RegisterFrameClass() {
    static const bool registered =
        RegisterClassNamed(kExplorerFrameClass) && RegisterClassNamed(kWorkerClass);
    return registered;
}

} // namespace

ShellBrowserHost::ShellBrowserHost() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
}

ShellBrowserHost::~ShellBrowserHost() { Close(); }

void* ShellBrowserHost::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IOleWindow))
        return static_cast<IOleWindow*>(this);
    return nullptr;
}

HRESULT ShellBrowserHost::Open(IShellFolder* folder, UINT viewMode) {
    if (!folder || !RegisterFrameClass())
        return E_FAIL;
    frame_ = CreateWindowExA(0, kExplorerFrameClass, "My Zelvan", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 560,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!frame_)
        return HRESULT_FROM_WIN32(GetLastError());
    toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT, 0, 0, 800, 28, frame_,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    status_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, frame_, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    tree_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE, 0, 30, 180, 480, frame_,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
    // Explorer's band of links, whose Favorites button a view of another folder may have hidden.
    HWND worker = CreateWindowExA(0, kWorkerClass, "", WS_CHILD, 0, 0, 0, 0, frame_, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND rebar = CreateWindowExA(0, REBARCLASSNAMEA, "", WS_CHILD, 0, 0, 0, 0, worker, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    links_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | TBSTYLE_LIST, 0, 0, 400, 24, rebar, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    SendMessageA(links_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const LRESULT text = SendMessageA(links_, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>("F&avorites\0\0"));
    TBBUTTON favorites{I_IMAGENONE, kFavoritesCommand, TBSTATE_ENABLED | TBSTATE_HIDDEN, BTNS_BUTTON, {}, 0,
                       text};
    SendMessageA(links_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&favorites));
    FOLDERSETTINGS settings{viewMode, 0};
    HRESULT hr = folder->CreateViewObject(frame_, IID_PPV_ARGS(&view_));
    if (FAILED(hr))
        return hr;
    RECT area{184, 30, 796, 500};
    hr = view_->CreateViewWindow(nullptr, &settings, this, &area, &viewWindow_);
    if (FAILED(hr))
        return hr;
    view_->UIActivate(SVUIA_ACTIVATE_FOCUS);
    return S_OK;
}

void ShellBrowserHost::Close() {
    if (view_) {
        view_->UIActivate(SVUIA_DEACTIVATE);
        view_->DestroyViewWindow();
        view_.Reset();
    }
    viewWindow_ = nullptr;
    if (frame_)
        DestroyWindow(frame_);
    frame_ = nullptr;
}

void ShellBrowserHost::Abandon() {
    view_.Reset();
    viewWindow_ = nullptr;
}

bool ShellBrowserHost::FavoritesHidden() const {
    return links_ && SendMessageA(links_, TB_ISBUTTONHIDDEN, kFavoritesCommand, 0) != 0;
}

std::vector<std::wstring> ShellBrowserHost::StatusTexts() const {
    std::lock_guard<std::mutex> guard(lock_);
    return statusTexts_;
}

std::wstring ShellBrowserHost::LastStatus() const {
    std::lock_guard<std::mutex> guard(lock_);
    return statusTexts_.empty() ? std::wstring() : statusTexts_.back();
}

std::vector<UINT> ShellBrowserHost::BrowseFlags() const {
    std::lock_guard<std::mutex> guard(lock_);
    return browseFlags_;
}

STDMETHODIMP ShellBrowserHost::GetWindow(HWND* phwnd) {
    if (!phwnd)
        return E_POINTER;
    *phwnd = frame_;
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::InsertMenusSB(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) {
    if (!hmenuShared)
        return E_INVALIDARG;
    // File, View and Help, the last with the id the views look for.
    AppendMenuA(hmenuShared, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), "&File");
    AppendMenuA(hmenuShared, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), "&View");
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, 1, "Help &Topics");
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_SUBMENU | MIIM_ID | MIIM_STRING;
    item.hSubMenu = help;
    item.wID = FCIDM_MENU_HELP;
    item.dwTypeData = const_cast<char*>("&Help");
    InsertMenuItemA(hmenuShared, GetMenuItemCount(hmenuShared), TRUE, &item);
    if (lpMenuWidths) {
        lpMenuWidths->width[0] = 1;
        lpMenuWidths->width[2] = 1;
        lpMenuWidths->width[4] = 1;
    }
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::SetMenuSB(HMENU hmenuShared, HOLEMENU, HWND) {
    sharedMenu_ = hmenuShared;
    menuSet_ = hmenuShared != nullptr;
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::RemoveMenusSB(HMENU hmenuShared) {
    if (hmenuShared == sharedMenu_)
        sharedMenu_ = nullptr;
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::SetStatusTextSB(LPCWSTR pszStatusText) {
    std::wstring text = pszStatusText ? pszStatusText : L"";
    {
        std::lock_guard<std::mutex> guard(lock_);
        statusTexts_.push_back(text);
    }
    if (status_)
        SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::BrowseObject(PCUIDLIST_RELATIVE, UINT wFlags) {
    std::lock_guard<std::mutex> guard(lock_);
    browseFlags_.push_back(wFlags);
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::GetViewStateStream(DWORD, IStream** ppStrm) {
    if (ppStrm)
        *ppStrm = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ShellBrowserHost::GetControlWindow(UINT id, HWND* phwnd) {
    if (!phwnd)
        return E_POINTER;
    switch (id) {
    case FCW_TOOLBAR:
        *phwnd = toolbar_;
        break;
    case FCW_STATUS:
        *phwnd = status_;
        break;
    case FCW_TREE:
        *phwnd = tree_;
        break;
    default:
        *phwnd = nullptr;
        return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::SendControlMsg(UINT id, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pret) {
    HWND control = nullptr;
    if (FAILED(GetControlWindow(id, &control)) || !control)
        return E_FAIL;
    LRESULT result = SendMessageA(control, uMsg, wParam, lParam);
    if (pret)
        *pret = result;
    return S_OK;
}

STDMETHODIMP ShellBrowserHost::QueryActiveShellView(IShellView** ppshv) {
    if (!ppshv)
        return E_POINTER;
    *ppshv = view_.Get();
    if (*ppshv)
        (*ppshv)->AddRef();
    return *ppshv ? S_OK : E_FAIL;
}

STDMETHODIMP ShellBrowserHost::SetToolbarItems(LPTBBUTTONSB lpButtons, UINT nButtons, UINT) {
    if (!lpButtons)
        return E_INVALIDARG;
    for (UINT i = 0; i < nButtons; ++i) {
        TBBUTTON button = lpButtons[i];
        SendMessageA(toolbar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    }
    toolbarButtons_ += static_cast<int>(nButtons);
    return S_OK;
}

} // namespace tv::test
