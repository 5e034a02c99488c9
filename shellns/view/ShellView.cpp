#include "ShellView.h"
#include "DataObject.h"
#include "DevicePath.h"
#include "DllModule.h"
#include "FileOps.h"
#include "HResult.h"
#include "MultiProperties.h"
#include "NamespaceLink.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include <shlwapi.h>
#include <windowsx.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tv::shellns {
namespace {

constexpr int kColumnCount = 4;
constexpr int kColumnTexts[kColumnCount] = {IDS_NS_COLUMN_NAME, IDS_NS_COLUMN_SIZE, IDS_NS_COLUMN_TYPE,
                                             IDS_NS_COLUMN_MODIFIED};
constexpr int kColumnFormats[kColumnCount] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_LEFT};
constexpr int kDefaultColumnWidth = 100;
constexpr size_t kMaxRenameText = 260;

HINSTANCE ModuleInstance() {
    HMODULE module = dll::ThisModule();
    return module ? module : GetModuleHandleA(nullptr);
}

bool RegisterViewClass() {
    static const ATOM atom = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = ModuleInstance();
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kViewClassName;
        return RegisterClassA(&windowClass);
    }();
    return atom != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

std::string FormatInt(UINT id, long value) {
    std::string pattern = LangString(id);
    std::vector<char> text(pattern.size() + 32);
    std::snprintf(text.data(), text.size(), pattern.c_str(), static_cast<int>(value));
    return text.data();
}

std::string ByteSize(unsigned long long size) {
    char text[64] = {};
    StrFormatByteSize64A(static_cast<LONGLONG>(size), text, sizeof(text));
    return text;
}

std::string DateTimeText(uint32_t low, uint32_t high) {
    FILETIME time{low, high};
    SYSTEMTIME system{};
    if (!FileTimeToSystemTime(&time, &system))
        return {};
    char date[64] = {}, clock[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &system, nullptr, date, sizeof(date));
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &system, nullptr, clock, sizeof(clock));
    return std::string(date) + " " + clock;
}

int CountComponents(const std::string& path) {
    if (path.empty())
        return 0;
    return 1 + static_cast<int>(std::count(path.begin(), path.end(), '\\'));
}

} // namespace

HRESULT CreateFolderView(ZelvanFolder* folder, REFIID riid, void** ppv) {
    return com::CreateComObject<ZvShellView>(riid, ppv, folder);
}

ZvShellView::ZvShellView(ZelvanFolder* folder) : folder_(folder), globals_(folder->GlobalsHolder()) {
    HMODULE language = LanguageModule();
    refreshMessage_ = RegisterRefreshMessage(language);
    updateMessage_ = RegisterUpdateMessage(language);
}

ZvShellView::~ZvShellView() {
    // A browser may let go of the view without DestroyViewWindow: the window's drop target,
    // which holds the folder's shared state, is withdrawn before the window goes.
    if (registeredDrop_ && window_)
        RevokeDragDrop(window_);
    if (window_)
        DestroyWindow(window_);
}

void* ZvShellView::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IOleWindow))
        return static_cast<IOleWindow*>(this);
    return nullptr;
}

STDMETHODIMP ZvShellView::GetWindow(HWND* phwnd) {
    if (!phwnd)
        return E_POINTER;
    *phwnd = window_;
    return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP ZvShellView::GetCurrentInfo(LPFOLDERSETTINGS pfs) {
    if (!pfs)
        return E_POINTER;
    *pfs = settings_;
    return S_OK;
}

// ---- window ----

STDMETHODIMP ZvShellView::CreateViewWindow(IShellView*, LPCFOLDERSETTINGS pfs, IShellBrowser* psb, RECT* prcView,
                                           HWND* phWnd) {
    if (!phWnd || !psb || !prcView)
        return E_POINTER;
    *phWnd = nullptr;
    if (window_)
        return E_FAIL;
    browser_ = psb;
    if (pfs)
        settings_ = *pfs;
    AddToolbarButtons();
    HWND parent = nullptr;
    browser_->GetWindow(&parent);
    if (!RegisterViewClass())
        return E_FAIL;
    window_ = CreateWindowExA(0, kViewClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                              prcView->left, prcView->top, prcView->right - prcView->left,
                              prcView->bottom - prcView->top, parent, nullptr, ModuleInstance(), nullptr);
    if (!window_)
        return com::LastErrorHResult();
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
    // What WM_CREATE would do: drops onto the folder and the browser's tree.
    com::ComPtr<IDropTarget> drop;
    if (SUCCEEDED(folder_->CreateViewObject(window_, IID_PPV_ARGS(&drop))))
        registeredDrop_ = SUCCEEDED(RegisterDragDrop(window_, drop.Get()));
    browser_->GetControlWindow(FCW_TREE, &tree_);

    RECT client{};
    GetClientRect(window_, &client);
    list_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | LVS_AUTOARRANGE | LVS_EDITLABELS | LVS_SHAREIMAGELISTS, 0, 0,
                            client.right, client.bottom, window_, nullptr, ModuleInstance(), nullptr);
    if (!list_)
        return com::LastErrorHResult();
    SetWindowSubclass(list_, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
    ListView_SetImageList(list_, globals_->LargeImages(), LVSIL_NORMAL);
    ListView_SetImageList(list_, globals_->SmallImages(), LVSIL_SMALL);
    InsertColumns();
    SetSortMark();
    SetViewMode(std::max(globals_->Settings().viewMode, static_cast<int>(IDC_NS_VIEW_ICONS)));
    Refresh();
    *phWnd = window_;
    ShowFavoritesButton();
    ShowSelectionStatus(true);
    return S_OK;
}

STDMETHODIMP ZvShellView::DestroyViewWindow() {
    UIActivate(SVUIA_DEACTIVATE);
    if (registeredDrop_ && window_)
        RevokeDragDrop(window_);
    registeredDrop_ = false;
    if (menu_) {
        if (browser_)
            browser_->RemoveMenusSB(menu_);
        DestroyMenu(menu_);
        menu_ = nullptr;
    }
    browser_.Reset();
    if (list_)
        DestroyWindow(list_);
    list_ = nullptr;
    if (window_)
        DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
}

void ZvShellView::AddToolbarButtons() {
    TBADDBITMAP bitmap{HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR};
    LRESULT offset = 0;
    browser_->SendControlMsg(FCW_TOOLBAR, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&bitmap), &offset);
    const struct {
        int command;
        int image;
    } buttons[] = {{IDC_NS_VIEW_ICONS, VIEW_LARGEICONS},
                   {IDC_NS_VIEW_SMALL, VIEW_SMALLICONS},
                   {IDC_NS_VIEW_LIST, VIEW_LIST},
                   {IDC_NS_VIEW_DETAILS, VIEW_DETAILS}};
    TBBUTTON items[4] = {};
    for (int i = 0; i < 4; ++i) {
        items[i].iBitmap = static_cast<int>(offset) + buttons[i].image;
        items[i].idCommand = buttons[i].command;
        items[i].fsState = TBSTATE_ENABLED;
        items[i].fsStyle = BTNS_BUTTON;
    }
    browser_->SetToolbarItems(items, 4, FCT_MERGE);
}

STDMETHODIMP ZvShellView::UIActivate(UINT uState) {
    if (!browser_)
        return S_OK;
    if (uState != SVUIA_DEACTIVATE) {
        int parts[1] = {-1};
        browser_->SendControlMsg(FCW_STATUS, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts), nullptr);
        browser_->OnViewWindowActive(this);
        MergeMenus();
    }
    const int mode = globals_->Settings().viewMode;
    for (int command = IDC_NS_VIEW_ICONS; command <= IDC_NS_VIEW_LIST; ++command)
        browser_->SendControlMsg(FCW_TOOLBAR, TB_CHECKBUTTON, command, command == mode, nullptr);
    return S_OK;
}

void ZvShellView::MergeMenus() {
    if (menu_)
        return;
    menu_ = CreateMenu();
    OLEMENUGROUPWIDTHS widths{};
    if (FAILED(browser_->InsertMenusSB(menu_, &widths)))
        return;
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_SUBMENU;
    // The Help menu gets our two items and a separator at its top.
    for (int i = 0, n = GetMenuItemCount(menu_); i < n; ++i) {
        if (GetMenuItemID(menu_, i) != static_cast<UINT>(-1))
            continue;
        HMENU sub = GetSubMenu(menu_, i);
        MENUITEMINFOA id{};
        id.cbSize = sizeof(id);
        id.fMask = MIIM_ID;
        if (GetMenuItemInfoA(menu_, i, TRUE, &id) && id.wID == FCIDM_MENU_HELP && sub) {
            InsertMenuA(sub, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
            InsertMenuA(sub, 0, MF_BYPOSITION | MF_STRING, IDC_NS_HELP_SITE, LangString(IDS_NS_HELP_SITE).c_str());
            InsertMenuA(sub, 0, MF_BYPOSITION | MF_STRING, IDC_NS_HELP_ABOUT, LangString(IDS_NS_HELP_ABOUT).c_str());
        }
    }
    browser_->SetMenuSB(menu_, nullptr, window_);
}

void ZvShellView::InsertColumns() {
    const ViewSettings settings = globals_->Settings();
    for (int i = 0; i < kColumnCount; ++i) {
        std::string text = LangString(kColumnTexts[i]);
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = kColumnFormats[i];
        column.pszText = text.data();
        column.cx = settings.columnWidths[i] == -1 ? kDefaultColumnWidth : settings.columnWidths[i];
        column.iSubItem = i;
        SendMessageA(list_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

void ZvShellView::SetViewMode(int mode) {
    if (mode < IDC_NS_VIEW_ICONS || mode > IDC_NS_VIEW_LIST)
        mode = IDC_NS_VIEW_DETAILS;
    ViewSettings settings = globals_->Settings();
    if (settings.viewMode != mode) {
        settings.viewMode = mode;
        globals_->StoreSettings(settings);
    }
    const LONG_PTR style = GetWindowLongPtrA(list_, GWL_STYLE);
    SetWindowLongPtrA(list_, GWL_STYLE, (style & ~LVS_TYPEMASK) | (mode - IDC_NS_VIEW_ICONS));
    if (mode == IDC_NS_VIEW_DETAILS)
        OwnerDrawHeader();
    if (browser_)
        for (int command = IDC_NS_VIEW_ICONS; command <= IDC_NS_VIEW_LIST; ++command)
            browser_->SendControlMsg(FCW_TOOLBAR, TB_CHECKBUTTON, command, command == mode, nullptr);
}

void ZvShellView::SetSortMark() {
    // The header draws its items through the view, the sort triangle with them.
    if (HWND header = ListView_GetHeader(list_))
        InvalidateRect(header, nullptr, TRUE);
}

void ZvShellView::OwnerDrawHeader() {
    HWND header = ListView_GetHeader(list_);
    for (int i = 0, n = Header_GetItemCount(header); i < n; ++i) {
        HDITEMA item{};
        item.mask = HDI_FORMAT;
        item.fmt = HDF_OWNERDRAW;
        Header_SetItem(header, i, &item);
    }
}

namespace {

// A small triangle in the room at the right of the sorted column's header: pointing up for an
// ascending sort, down for a descending one, lit from the top left as the header's edges are.
void DrawSortTriangle(HDC dc, const RECT& cell, int blank, bool ascending) {
    const int width = std::max(6, 3 * blank) & ~1;
    const int height = width / 2 + 1;
    const int left = cell.right - 5 * blank;
    const int top = (cell.top + cell.bottom - height) / 2;
    const POINT apex{left + width / 2, ascending ? top : top + height};
    const POINT baseLeft{left, ascending ? top + height : top};
    const POINT baseRight{left + width, baseLeft.y};
    HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DHILIGHT));
    HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DSHADOW));
    HGDIOBJ old = SelectObject(dc, dark);
    MoveToEx(dc, apex.x, apex.y, nullptr);
    LineTo(dc, baseLeft.x, baseLeft.y);
    if (!ascending)
        LineTo(dc, baseRight.x, baseRight.y);
    SelectObject(dc, light);
    if (ascending) {
        LineTo(dc, baseRight.x, baseRight.y);
        LineTo(dc, apex.x, apex.y);
    } else {
        MoveToEx(dc, baseRight.x, baseRight.y, nullptr);
        LineTo(dc, apex.x, apex.y);
    }
    SelectObject(dc, old);
    DeleteObject(light);
    DeleteObject(dark);
}

} // namespace

bool ZvShellView::DrawHeaderItem(const DRAWITEMSTRUCT& item) {
    HWND header = list_ ? ListView_GetHeader(list_) : nullptr;
    if (!header || item.hwndItem != header || !item.hDC)
        return false;
    const int column = static_cast<int>(item.itemID);
    char text[MAX_PATH] = {};
    HDITEMA heading{};
    heading.mask = HDI_TEXT;
    heading.pszText = text;
    heading.cchTextMax = sizeof(text);
    Header_GetItem(header, column, &heading);
    // The header items carry only the owner-draw format: the alignment is the column's.
    LVCOLUMNA layout{};
    layout.mask = LVCF_FMT;
    ListView_GetColumn(list_, column, &layout);
    HDC dc = item.hDC;
    HGDIOBJ oldFont = nullptr;
    if (auto font = reinterpret_cast<HFONT>(SendMessageA(header, WM_GETFONT, 0, 0)))
        oldFont = SelectObject(dc, font);
    SIZE blank{};
    GetTextExtentPoint32A(dc, " ", 1, &blank);
    const int sort = globals_->Settings().sort;
    const bool sorted = std::abs(sort) - 1 == column;
    RECT room = item.rcItem;
    room.left += 2 * blank.cx;
    room.right -= (sorted ? 6 : 2) * blank.cx;
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
    const int alignment = layout.fmt & LVCFMT_JUSTIFYMASK;
    if (alignment == LVCFMT_CENTER)
        format |= DT_CENTER;
    else if (alignment == LVCFMT_RIGHT)
        format |= DT_RIGHT;
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColor = SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, text, -1, &room, format);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    if (sorted)
        DrawSortTriangle(dc, item.rcItem, static_cast<int>(blank.cx), sort > 0);
    if (oldFont)
        SelectObject(dc, oldFont);
    return true;
}

namespace {

std::vector<HWND> ChildrenOfClass(HWND parent, const char* className) {
    std::vector<HWND> found;
    for (HWND child = FindWindowExA(parent, nullptr, className, nullptr); child;
         child = FindWindowExA(parent, child, className, nullptr))
        found.push_back(child);
    return found;
}

// Shows the toolbar's "F&avorites" button; whether it has one.
bool ShowFavoritesIn(HWND toolbar) {
    const auto count = static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TBBUTTON button{};
        if (!SendMessageA(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)))
            continue;
        char text[32] = {};
        const LRESULT length = SendMessageA(toolbar, TB_GETBUTTONTEXTA, button.idCommand, 0);
        if (length <= 0 || length >= static_cast<LRESULT>(sizeof(text)))
            continue;
        SendMessageA(toolbar, TB_GETBUTTONTEXTA, button.idCommand, reinterpret_cast<LPARAM>(text));
        if (std::strcmp(text, "F&avorites") == 0) {
            SendMessageA(toolbar, TB_HIDEBUTTON, button.idCommand, FALSE);
            return true;
        }
    }
    return false;
}

} // namespace

void ZvShellView::ShowFavoritesButton() {
    // Explorer's links band, under the frame that shows this view: its Favorites button, which
    // another folder's view may have hidden, is shown again.
    for (const char* frameClass : {"ExploreWClass", "CabinetWClass"})
        for (HWND frame : ChildrenOfClass(nullptr, frameClass)) {
            DWORD process = 0;
            GetWindowThreadProcessId(frame, &process);
            if (process != GetCurrentProcessId() || !IsChild(frame, window_))
                continue;
            for (HWND worker : ChildrenOfClass(frame, "WorkerW"))
                for (HWND rebar : ChildrenOfClass(worker, "ReBarWindow32"))
                    for (HWND toolbar : ChildrenOfClass(rebar, "ToolbarWindow32"))
                        if (ShowFavoritesIn(toolbar))
                            return;
        }
}

// ---- listing ----

STDMETHODIMP ZvShellView::Refresh() {
    ClearCutMarks();
    cutIndexes_.clear();
    if (!list_)
        return S_OK;
    EnableWindow(list_, TRUE);
    SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
    com::ComPtr<IEnumIDList> items;
    if (folder_->EnumObjects(window_, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &items) != S_OK) {
        ListView_DeleteAllItems(list_);
        records_.clear();
        EnableWindow(list_, FALSE);
        SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        return E_FAIL;
    }
    std::vector<std::string> selected;
    for (int index : SelectedIndexes()) {
        char text[MAX_PATH] = {};
        ListView_GetItemText(list_, index, 0, text, sizeof(text));
        selected.emplace_back(text);
    }
    ListView_DeleteAllItems(list_);
    records_.clear();
    SHELLFLAGSTATE shell{};
    SHGetSettings(&shell, SSF_SHOWSYSFILES);
    showHidden_ = !shell.fShowSysFiles;
    PITEMID_CHILD child = nullptr;
    while (items->Next(1, &child, nullptr) == S_OK) {
        UniquePidl owned(child);
        ItemRecord record;
        if (!ReadItem(child, &record))
            continue;
        if ((record.attr & kItemHidden) && !showHidden_)
            continue;
        records_.push_back(record);
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
        item.iItem = ListView_GetItemCount(list_);
        item.pszText = records_.back().name.data();
        item.iImage = static_cast<int>(record.iconIndex);
        item.lParam = static_cast<LPARAM>(records_.size() - 1);
        item.stateMask = LVIS_CUT;
        item.state = (record.attr & kItemHidden) ? LVIS_CUT : 0;
        const int index = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        ListView_SetItemText(list_, index, 2, records_.back().description.data());
        if (!record.IsContainer()) {
            std::string date = DateTimeText(record.timeLow, record.timeHigh);
            ListView_SetItemText(list_, index, 3, date.data());
        }
        // Every file shows its size, an empty one too; a container only when it reports one.
        if (!record.IsContainer() || record.size != 0) {
            std::string size = ByteSize(record.size);
            ListView_SetItemText(list_, index, 1, size.data());
        }
    }
    ListView_SortItems(list_, CompareItems, reinterpret_cast<LPARAM>(this));
    QueryVolume();
    for (const std::string& text : selected) {
        LVFINDINFOA find{};
        find.flags = LVFI_STRING;
        find.psz = text.c_str();
        int index = static_cast<int>(SendMessageA(list_, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                                  reinterpret_cast<LPARAM>(&find)));
        if (index >= 0)
            ListView_SetItemState(list_, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    ShowSelectionStatus(true);
    return S_OK;
}

const ItemRecord* ZvShellView::RecordAt(int index) const {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    const size_t at = static_cast<size_t>(item.lParam);
    return at < records_.size() ? &records_[at] : nullptr;
}

int CALLBACK ZvShellView::CompareItems(LPARAM a, LPARAM b, LPARAM viewParam) {
    auto* view = reinterpret_cast<ZvShellView*>(viewParam);
    const size_t count = view->records_.size();
    const ItemRecord* first = static_cast<size_t>(a) < count ? &view->records_[a] : nullptr;
    const ItemRecord* second = static_cast<size_t>(b) < count ? &view->records_[b] : nullptr;
    if (!first || !second)
        return !first ? -1 : 1;
    const int sort = view->globals_->Settings().sort;
    const int sign = sort < 0 ? -1 : 1;
    const int column = std::abs(sort);
    if (column == 1) {
        std::string keyA = (first->type == kTypeFolder ? "0" : "1") + first->name;
        std::string keyB = (second->type == kTypeFolder ? "0" : "1") + second->name;
        return lstrcmpA(keyA.c_str(), keyB.c_str()) * sign;
    }
    if (first->type != second->type)
        return first->type > second->type ? sign : -sign;
    switch (column) {
    case 2:
        // Equal sizes are never reported equal, as the list has always sorted.
        return first->size > second->size ? sign : -sign;
    case 3:
        return lstrcmpA(first->description.c_str(), second->description.c_str()) * sign;
    default: {
        ULARGE_INTEGER ta{{first->timeLow, first->timeHigh}}, tb{{second->timeLow, second->timeHigh}};
        if (ta.QuadPart == tb.QuadPart)
            return 0;
        return ta.QuadPart > tb.QuadPart ? sign : -sign;
    }
    }
}

void ZvShellView::SortBy(int column) {
    const std::string path = folder_->DevicePath();
    const int depth = CountComponents(path);
    const bool accepted = depth >= 2 || (depth == 1 && column <= 2) || (depth == 0 && (column == 0 || column == 2));
    if (!accepted)
        return;
    ViewSettings settings = globals_->Settings();
    settings.sort = column + 1 == std::abs(settings.sort) ? -settings.sort : column + 1;
    SortCommand(settings.sort);
}

void ZvShellView::SortCommand(int sort) {
    ViewSettings settings = globals_->Settings();
    settings.sort = sort;
    globals_->StoreSettings(settings);
    SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
    ListView_SortItems(list_, CompareItems, reinterpret_cast<LPARAM>(this));
    SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    SetSortMark();
}

void ZvShellView::QueryVolume() {
    haveVolume_ = false;
    const std::string path = folder_->DevicePath();
    if (CountComponents(path) < 2)
        return;
    DeviceParts parts = SplitDevicePath(path);
    std::string volume = parts.device + "\\" + parts.rest.substr(0, parts.rest.find('\\'));
    com::ComPtr<IZelvanMgr> hub;
    if (SUCCEEDED(globals_->GetHub(hub)) && SUCCEEDED(hub->GetVolumeInfo(volume.data(), &volume_)))
        haveVolume_ = true;
}

void ZvShellView::ShowSelectionStatus(bool force) {
    if (!browser_ || !list_)
        return;
    const int selected = ListView_GetSelectedCount(list_);
    if (selected > 0 && selected == lastSelected_ && !force)
        return;
    lastSelected_ = selected;
    std::string text;
    if (selected > 0)
        text = FormatInt(IDS_NS_STATUS_SELECTED, selected);
    else if (haveVolume_) {
        const unsigned long long free = static_cast<unsigned long long>(static_cast<unsigned long>(volume_.nFreeBlocks)) *
                                        static_cast<unsigned long>(volume_.nBlockSize);
        std::string pattern = LangString(IDS_NS_STATUS_ITEMS_FREE);
        std::string size = ByteSize(free);
        std::vector<char> buffer(pattern.size() + size.size() + 32);
        std::snprintf(buffer.data(), buffer.size(), pattern.c_str(), ListView_GetItemCount(list_), size.c_str());
        text = buffer.data();
    } else
        text = FormatInt(IDS_NS_STATUS_ITEMS, ListView_GetItemCount(list_));
    std::wstring wide(text.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    browser_->SetStatusTextSB(wide.c_str());
}

// ---- selection ----

std::vector<int> ZvShellView::SelectedIndexes() const {
    std::vector<int> indexes;
    if (!list_)
        return indexes;
    for (int i = ListView_GetNextItem(list_, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list_, i, LVNI_SELECTED))
        indexes.push_back(i);
    return indexes;
}

std::vector<std::string> ZvShellView::SelectedPaths() const {
    std::vector<std::string> paths;
    for (int index : SelectedIndexes())
        if (const ItemRecord* record = RecordAt(index))
            paths.push_back(JoinDevicePath(folder_->DevicePath(), record->name));
    return paths;
}

bool ZvShellView::ProtectedSelection() const {
    for (int index : SelectedIndexes())
        if (const ItemRecord* record = RecordAt(index); record && (record->attr & kItemProtected))
            return true;
    return false;
}

void ZvShellView::RefuseProtected() {
    MessageBoxA(window_, LangString(IDS_NS_PROTECTED).c_str(), LangString(IDS_NS_CAPTION).c_str(), MB_ICONERROR);
}

void ZvShellView::Broadcast() {
    // Other views of the devices refresh; ours was refreshed by its caller.
    EnumWindows(
        [](HWND top, LPARAM self) -> BOOL {
            char name[64] = {};
            GetClassNameA(top, name, sizeof(name));
            if (std::strcmp(name, "ExploreWClass") != 0)
                return TRUE;
            auto* view = reinterpret_cast<ZvShellView*>(self);
            for (HWND child = FindWindowExA(top, nullptr, kViewClassName, nullptr); child;
                 child = FindWindowExA(top, child, kViewClassName, nullptr))
                if (child != view->window_)
                    PostMessageA(child, view->refreshMessage_, reinterpret_cast<WPARAM>(view->window_), 0);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
}

// ---- commands ----

void ZvShellView::DeleteSelection() {
    if (ProtectedSelection()) {
        RefuseProtected();
        return;
    }
    std::vector<std::string> paths = SelectedPaths();
    if (paths.empty())
        return;
    ZvDeleteOp remove(paths, true, window_);
    if (remove.Run() && remove.Started()) {
        Refresh();
        Broadcast();
    }
    SetFocus(list_);
}

void ZvShellView::NewFolder() {
    const std::string base = LangString(IDS_NS_NEW_FOLDER);
    std::string candidate = base;
    for (int counter = 1;; ++counter) {
        LVFINDINFOA find{};
        find.flags = LVFI_STRING | LVFI_WRAP;
        find.psz = candidate.c_str();
        if (SendMessageA(list_, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)) < 0)
            break;
        candidate = base + std::to_string(counter);
    }
    std::string path = JoinDevicePath(folder_->DevicePath(), candidate);
    com::ComPtr<IZelvanMgr> hub;
    if (FAILED(globals_->GetHub(hub)) || FAILED(hub->CreateFolder(path.data()))) {
        MessageBoxA(window_, LangString(IDS_NS_NEW_FOLDER_FAILED).c_str(), LangString(IDS_NS_CAPTION).c_str(),
                    MB_ICONERROR);
        return;
    }
    Refresh();
    LVFINDINFOA find{};
    find.flags = LVFI_STRING;
    find.psz = candidate.c_str();
    int index = static_cast<int>(SendMessageA(list_, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(&find)));
    if (index >= 0) {
        SetFocus(list_);
        ListView_EditLabel(list_, index);
    }
}

void ZvShellView::StartRename() {
    std::vector<int> selected = SelectedIndexes();
    if (selected.empty())
        return;
    const ItemRecord* record = RecordAt(selected.front());
    if (!record || record->type == kTypeDevice || record->type == kTypeVolume)
        return;
    SetFocus(list_);
    ListView_EditLabel(list_, selected.front());
}

bool ZvShellView::EndRename(NMLVDISPINFOA* info) {
    editing_ = false;
    edit_ = nullptr;
    if (!info->item.pszText)
        return false;
    const ItemRecord* record = RecordAt(info->item.iItem);
    if (!record)
        return false;
    std::string from = JoinDevicePath(folder_->DevicePath(), record->name);
    std::string to = JoinDevicePath(folder_->DevicePath(), info->item.pszText);
    char error[kMaxRenameText] = {};
    com::ComPtr<IZelvanMgr> hub;
    HRESULT hr = E_FAIL;
    if (SUCCEEDED(globals_->GetHub(hub)))
        hr = hub->RenameFileItem(from.data(), to.data(), sizeof(error), reinterpret_cast<unsigned char*>(error));
    error[sizeof(error) - 1] = '\0';
    if (SUCCEEDED(hr) && error[0] == '\0') {
        Broadcast();
        PostMessageA(window_, updateMessage_, 0, 0);
        return true;
    }
    if (error[0])
        MessageBoxA(window_, error, LangString(IDS_NS_PROGRAM_TITLE).c_str(), MB_ICONERROR);
    PostMessageA(window_, WM_COMMAND, IDC_NS_RENAME, 0);
    return false;
}

namespace {

struct PropertiesRequest {
    std::string path;
    ZVFILEITEM item{};
};

DWORD WINAPI SinglePropertiesThread(void* parameter) {
    std::unique_ptr<PropertiesRequest> request(static_cast<PropertiesRequest*>(parameter));
    com::ComApartment apartment;
    com::ComPtr<IZelvanMgr> hub;
    if (SUCCEEDED(AcquireGlobals()->GetHub(hub))) {
        request->item.strName = request->path.data();
        hub->DisplayProperties(request->path.data(), &request->item);
    }
    com::ModuleLock::Unlock();
    return 0;
}

} // namespace

void ZvShellView::Properties() {
    std::vector<int> selected = SelectedIndexes();
    if (selected.size() >= 2) {
        if (CountComponents(folder_->DevicePath()) < 2)
            return;
        std::vector<std::string> names;
        for (int index : selected)
            if (const ItemRecord* record = RecordAt(index))
                names.push_back(record->name);
        ShowMultiProperties(folder_->DevicePath(), names);
        return;
    }
    ItemRecord record;
    std::string path;
    if (!selected.empty()) {
        const ItemRecord* chosen = RecordAt(selected.front());
        if (!chosen)
            return;
        record = *chosen;
        path = JoinDevicePath(folder_->DevicePath(), record.name);
    } else {
        if (!folder_->OwnRecord(&record))
            return;
        path = folder_->DevicePath();
    }
    auto request = std::make_unique<PropertiesRequest>();
    request->path = path;
    request->item.type = static_cast<LONG>(record.type);
    request->item.attr = static_cast<LONG>(record.attr);
    request->item.nSize = static_cast<LONG>(record.size);
    request->item.nTimeLow = static_cast<LONG>(record.timeLow);
    request->item.nTimeHigh = static_cast<LONG>(record.timeHigh);
    com::ModuleLock::Lock();
    HANDLE thread = CreateThread(nullptr, 0, SinglePropertiesThread, request.get(), 0, nullptr);
    if (!thread) {
        com::ModuleLock::Unlock();
        return;
    }
    request.release();
    CloseHandle(thread);
}

void ZvShellView::OpenSelection(bool explore) {
    std::vector<int> selected = SelectedIndexes();
    for (int index : selected) {
        const ItemRecord* record = RecordAt(index);
        if (!record || !record->IsContainer())
            return;
    }
    UniquePidl root(FindMyZelvanRoot());
    bool first = true;
    for (int index : selected) {
        UniquePidl item(CreateItemPidl(*RecordAt(index)));
        UniquePidl folder(root ? ILCombine(root.Get(), folder_->FolderPidl()) : nullptr);
        UniquePidl target(folder && item ? ILCombine(folder.Get(), item.Get()) : nullptr);
        if (!target)
            continue;
        UINT flags = explore ? (SBSP_EXPLOREMODE | SBSP_NEWBROWSER) : SBSP_OPENMODE;
        if (!first)
            flags |= SBSP_NEWBROWSER;
        browser_->BrowseObject(target.Get(), flags);
        first = false;
    }
}

void ZvShellView::ClearCutMarks() {
    if (!list_)
        return;
    for (int index : cutIndexes_) {
        const ItemRecord* record = RecordAt(index);
        const UINT state = record && (record->attr & kItemHidden) ? LVIS_CUT : 0;
        ListView_SetItemState(list_, index, state, LVIS_CUT);
    }
    cutIndexes_.clear();
}

void ZvShellView::CutSelection() {
    std::vector<std::string> paths = SelectedPaths();
    if (paths.empty())
        return;
    if (IsWindows98OrMe()) {
        // There a cut deletes at once: protected items are refused before anything happens.
        if (ProtectedSelection()) {
            RefuseProtected();
            return;
        }
        ZvCutOp cut(paths, false, window_);
        cut.Run();
        Refresh();
        Broadcast();
        return;
    }
    ClearCutMarks();
    globals_->SetClipboardPaths(paths);
    for (int index : SelectedIndexes()) {
        ListView_SetItemState(list_, index, LVIS_CUT, LVIS_CUT);
        cutIndexes_.push_back(index);
    }
    com::ComPtr<ZvDataObject> data;
    if (SUCCEEDED(com::MakeComObject(data, DataKind::Cut, folder_->DevicePath(), paths, window_, tree_)))
        PutOnClipboard(data.Get());
}

void ZvShellView::CopySelection() {
    std::vector<std::string> paths = SelectedPaths();
    if (paths.empty())
        return;
    if (IsWindows98()) {
        ZvClipboardCopyOp copy(paths);
        copy.Run();
        return;
    }
    ClearCutMarks();
    globals_->SetClipboardPaths(paths);
    com::ComPtr<ZvDataObject> data;
    if (SUCCEEDED(com::MakeComObject(data, DataKind::Copy, folder_->DevicePath(), paths, window_, tree_)))
        PutOnClipboard(data.Get());
}

void ZvShellView::Paste() {
    com::ComPtr<IDataObject> data;
    bool ours = false;
    // Our own object is dropped as it is, not through the clipboard's stand-in for it: a cut
    // pasted onto another device then learns of the paste and deletes its items.
    data = OurClipboardObject();
    if (!data && FAILED(OleGetClipboard(&data)))
        data.Reset();
    if (data) {
        FORMATETC path{Formats().path, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        ours = data->QueryGetData(&path) == S_OK;
        com::ComPtr<IDropTarget> target;
        if (SUCCEEDED(folder_->CreateViewObject(window_, IID_PPV_ARGS(&target)))) {
            DWORD effect = DROPEFFECT_COPY;
            POINTL point{0, 0};
            HRESULT hr = target->Drop(data.Get(), MK_LBUTTON, point, &effect);
            // Our own objects are pasted by our drop target or not at all.
            if (SUCCEEDED(hr) || ours)
                return;
        }
    }
    // A plain file list from another program.
    if (SplitDevicePath(folder_->DevicePath()).rest.empty() || !OpenClipboard(window_))
        return;
    std::vector<std::string> files;
    if (HANDLE block = GetClipboardData(CF_HDROP))
        files = DropFileNames(static_cast<HDROP>(block));
    CloseClipboard();
    if (files.empty())
        return;
    ZvUploadOp upload(files, folder_->DevicePath());
    upload.Run();
    Refresh();
    Broadcast();
}

void ZvShellView::DragOut() {
    std::vector<std::string> paths = SelectedPaths();
    if (paths.empty())
        return;
    com::ComPtr<ZvDataObject> data;
    if (FAILED(com::MakeComObject(data, DataKind::Drag, folder_->DevicePath(), paths, window_, tree_)))
        return;
    DWORD effect = DROPEFFECT_NONE;
    DoDragDrop(data.Get(), data.Get(), DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, &effect);
}

void ZvShellView::ShowHelp(bool about) {
    const std::string root = HelpRoot();
    if (root.empty())
        return;
    if (about) {
        if (HWND open = FindWindowA("HH Parent", "Tavrilon Help")) {
            SetForegroundWindow(open);
            return;
        }
    }
    const std::string topic =
        root + (about ? "::/about_tavrilon.htm>default" : "::/how_to_work_with_files.htm>default");
    Seams().htmlHelp(window_, topic.c_str());
}

void ZvShellView::ContextMenu(POINT screen) {
    std::vector<int> selected = SelectedIndexes();
    int position = 4;
    if (!selected.empty()) {
        const ItemRecord* first = RecordAt(selected.front());
        if (!first)
            return;
        switch (first->type) {
        case kTypeDevice:
            position = 0;
            break;
        case kTypeVolume:
            position = 1;
            break;
        case kTypeFolder: {
            position = 2;
            if (selected.size() > 1)
                for (int index : selected)
                    if (const ItemRecord* record = RecordAt(index); record && (record->type & kTypeFile))
                        position = 3;
            break;
        }
        case kTypeFile:
            position = 3;
            break;
        default:
            return;
        }
    }
    HMENU resource = LoadMenuA(LanguageModule(), MAKEINTRESOURCEA(IDM_NS_CONTEXT));
    if (!resource)
        return;
    HMENU menu = GetSubMenu(resource, position);
    ItemRecord own;
    const bool hasOwn = folder_->OwnRecord(&own);
    if (position <= 2 && !selected.empty()) {
        InsertMenuA(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING, IDC_NS_EXPLORE, "&Explore");
        InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING, IDC_NS_OPEN, "&Open");
        SetMenuDefaultItem(menu, tree_ ? IDC_NS_EXPLORE : IDC_NS_OPEN, FALSE);
    }
    if (position == 4) {
        EnableMenuItem(menu, IDC_NS_PASTE, IsClipboardFormatAvailable(CF_HDROP) ? MF_ENABLED : MF_GRAYED);
        if (HMENU viewMenu = GetSubMenu(menu, 0)) {
            CheckMenuRadioItem(viewMenu, IDC_NS_VIEW_ICONS, IDC_NS_VIEW_LIST, globals_->Settings().viewMode,
                               MF_BYCOMMAND);
            EnableMenuItem(viewMenu, IDC_NS_SORT_NONE, MF_GRAYED);
        }
        if (!hasOwn || (own.type != kTypeFolder && own.type != kTypeVolume)) {
            const int last = GetMenuItemCount(menu) - 1;
            DeleteMenu(menu, last, MF_BYPOSITION);
            DeleteMenu(menu, IDC_NS_SELECT_ALL, MF_BYCOMMAND);
            DeleteMenu(menu, IDC_NS_PASTE, MF_BYCOMMAND);
            DeleteMenu(menu, 4, MF_BYPOSITION);
        }
    }
    EnableMenuItem(menu, IDC_NS_RENAME, selected.size() == 1 ? MF_ENABLED : MF_GRAYED);
    const bool noProperties = (selected.empty() && !hasOwn) ||
                              (selected.size() > 1 && (!hasOwn || (own.type != kTypeFolder && own.type != kTypeVolume)));
    if (noProperties)
        EnableMenuItem(menu, IDC_NS_PROPERTIES, MF_GRAYED);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, screen.x, screen.y, 0, window_, nullptr);
    DestroyMenu(resource);
}

void ZvShellView::OnCommand(UINT command) {
    com::ComPtr<ZvShellView> keep(this);  // a command may release the view's last outside reference
    switch (command) {
    case IDC_NS_CONTEXT_KEY: {
        POINT point{0, 0};
        std::vector<int> selected = SelectedIndexes();
        if (!selected.empty()) {
            RECT rect{};
            ListView_GetItemRect(list_, selected.front(), &rect, LVIR_BOUNDS);
            point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        }
        ClientToScreen(list_, &point);
        ContextMenu(point);
        break;
    }
    case IDC_NS_NEW_FOLDER:
        NewFolder();
        break;
    case IDC_NS_OPEN:
        OpenSelection(false);
        break;
    case IDC_NS_DELETE:
        DeleteSelection();
        break;
    case IDC_NS_RENAME:
        StartRename();
        break;
    case IDC_NS_PROPERTIES:
        Properties();
        break;
    case IDC_NS_EXPLORE:
        OpenSelection(true);
        break;
    case IDC_NS_CUT:
        CutSelection();
        break;
    case IDC_NS_COPY:
        CopySelection();
        break;
    case IDC_NS_PASTE:
        Paste();
        break;
    case IDC_NS_SELECT_ALL:
        ListView_SetItemState(list_, -1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        break;
    case IDC_NS_HELP_ABOUT:
        ShowHelp(true);
        break;
    case IDC_NS_HELP_SITE:
        ShellExecuteA(nullptr, LangString(IDS_NS_SITE_VERB).c_str(), LangString(IDS_NS_SITE_FILE).c_str(), nullptr,
                      nullptr, SW_SHOWDEFAULT);
        break;
    case IDC_NS_VIEW_ICONS:
    case IDC_NS_VIEW_DETAILS:
    case IDC_NS_VIEW_SMALL:
    case IDC_NS_VIEW_LIST:
        SetViewMode(static_cast<int>(command));
        break;
    case IDC_NS_SORT_FIRST:
    case IDC_NS_SORT_FIRST + 1:
    case IDC_NS_SORT_FIRST + 2:
    case IDC_NS_SORT_FIRST + 3:
        SortCommand(static_cast<int>(command - IDC_NS_SORT_FIRST + 1));
        break;
    case IDC_NS_REFRESH:
        Refresh();
        break;
    default:
        break;
    }
}

// ---- messages ----

LRESULT CALLBACK ZvShellView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<ZvShellView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!view || view->window_ != window)
        return DefWindowProcA(window, message, wParam, lParam);
    return view->OnMessage(message, wParam, lParam);
}

LRESULT CALLBACK ZvShellView::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    // The owner-drawn header asks its parent, the list, to draw its items.
    if (message == WM_DRAWITEM && lParam &&
        reinterpret_cast<ZvShellView*>(data)->DrawHeaderItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam)))
        return TRUE;
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_RBUTTONDOWN) {
        auto* view = reinterpret_cast<ZvShellView*>(data);
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(window, &point);
        view->ContextMenu(point);
    }
    return result;
}

LRESULT ZvShellView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != 0 && message == refreshMessage_) {
        if (reinterpret_cast<HWND>(wParam) != window_)
            Refresh();
        if (tree_) {
            SetFocus(tree_);
            PostMessageA(tree_, WM_KEYDOWN, VK_F5, 0);
        }
        return 0;
    }
    if (message != 0 && message == updateMessage_) {
        Refresh();
        return 0;
    }
    switch (message) {
    case WM_SIZE:
        if (list_)
            MoveWindow(list_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFOCUS:
        if (list_)
            SetFocus(list_);
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_DRAWITEM:
        return lParam && DrawHeaderItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_CONTEXTMENU: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ContextMenu(point);
        return 0;
    }
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

LRESULT ZvShellView::OnNotify(NMHDR* header) {
    if (!header)
        return 0;
    switch (header->code) {
    case LVN_ITEMCHANGED:
        ShowSelectionStatus(false);
        return 0;
    case LVN_BEGINDRAG:
        DragOut();
        return 0;
    case LVN_BEGINLABELEDITA: {
        if (ProtectedSelection()) {
            RefuseProtected();
            return TRUE;
        }
        editing_ = true;
        edit_ = ListView_GetEditControl(list_);
        char text[kMaxRenameText + 1] = {};
        if (edit_)
            GetWindowTextA(edit_, text, sizeof(text));
        textBeforeEdit_ = text;
        return FALSE;
    }
    case LVN_ENDLABELEDITA:
        return EndRename(reinterpret_cast<NMLVDISPINFOA*>(header)) ? TRUE : FALSE;
    case HDN_ITEMCLICKA:
    case HDN_ITEMCLICKW:
        SortBy(reinterpret_cast<NMHEADERA*>(header)->iItem);
        return 0;
    case HDN_ENDTRACKA:
    case HDN_ENDTRACKW: {
        ViewSettings settings = globals_->Settings();
        for (int i = 0; i < kColumnCount; ++i)
            settings.columnWidths[i] = ListView_GetColumnWidth(list_, i);
        globals_->StoreSettings(settings);
        return 0;
    }
    case LVN_ITEMACTIVATE: {
        if (GetKeyState(VK_MENU) < 0) {
            Properties();
            return 0;
        }
        auto* activate = reinterpret_cast<NMITEMACTIVATE*>(header);
        const ItemRecord* record = RecordAt(activate->iItem);
        if (record && record->IsContainer() && browser_) {
            UniquePidl item(CreateItemPidl(*record));
            if (item)
                browser_->BrowseObject(item.Get(), SBSP_RELATIVE);
        }
        return 0;
    }
    }
    return 0;
}

STDMETHODIMP ZvShellView::TranslateAccelerator(MSG* pmsg) {
    if (!pmsg)
        return E_INVALIDARG;
    if (skipNextKey_) {
        skipNextKey_ = false;
        return S_OK;
    }
    const bool keyDown = pmsg->message == WM_KEYDOWN;
    if (editing_ && keyDown) {
        if (pmsg->wParam == VK_BACK && edit_) {
            DWORD start = 0, end = 0;
            SendMessageA(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
            if (start != end)
                SendMessageA(edit_, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(""));
            else if (start > 0) {
                SendMessageA(edit_, WM_KEYDOWN, VK_LEFT, 0);
                SendMessageA(edit_, WM_KEYDOWN, VK_DELETE, 0);
            }
            skipNextKey_ = true;
            return S_OK;
        }
        if (pmsg->wParam == VK_DELETE)
            return E_NOTIMPL;
        if (pmsg->wParam == VK_F3)
            return E_NOTIMPL;
        if (pmsg->wParam == 'Q' && edit_) {
            // Typed into the name, never taken as a shortcut of the browser.
            SendMessageA(edit_, WM_KEYDOWN, pmsg->wParam, pmsg->lParam);
            return S_FALSE;
        }
    }
    if (!editing_ && keyDown) {
        if (pmsg->wParam == VK_BACK)
            return E_NOTIMPL;
        if (pmsg->wParam == VK_F2) {
            StartRename();
            return S_OK;
        }
        if (pmsg->wParam == VK_F1) {
            ShowHelp(false);
            return S_OK;
        }
    }
    if (pmsg->wParam == VK_CONTROL && (pmsg->lParam == 0x001D0001 || static_cast<DWORD>(pmsg->lParam) == 0xC01D0001))
        ctrlHeld_ = !ctrlHeld_;
    if (editing_ && ctrlHeld_ && keyDown && pmsg->wParam == 'C')
        return S_OK;
    if (editing_)
        return E_FAIL;  // the edit control gets its own keys
    static HACCEL accelerators = LoadAcceleratorsA(LanguageModule(), MAKEINTRESOURCEA(IDA_NS_VIEW));
    if (accelerators && window_ && ::TranslateAcceleratorA(window_, accelerators, pmsg))
        return S_OK;
    return E_FAIL;
}

} // namespace tv::shellns
