#include "UpdateWizard.h"

#include "AnsiText.h"
#include "DllModule.h"
#include "UpdateIds.h"

#include <commctrl.h>

#include <algorithm>

namespace tv::update {
namespace {

constexpr UINT kShowPageMessage = WM_APP;
constexpr UINT kHidePageMessage = WM_APP + 1;
constexpr UINT kRunWorkMessage = WM_APP + 2;
constexpr UINT_PTR kFrontTimer = 1;
constexpr UINT_PTR kAutoProgressTimer = 1;
constexpr int kProgressPage = 2;
constexpr int kDevicesPage = 4;

constexpr int kPageTemplates[kPageCount] = {IDD_UPDATE_PAGE_LEVEL,   IDD_UPDATE_PAGE_FILES,   IDD_UPDATE_PAGE_PROGRESS,
                                            IDD_UPDATE_PAGE_MESSAGE, IDD_UPDATE_PAGE_DEVICES, IDD_UPDATE_PAGE_FINISH,
                                            IDD_UPDATE_PAGE_ADVANCED};

std::wstring LangString(UINT id) {
    wchar_t text[512] = {};
    LoadStringW(dll::LanguageLibrary(), id, text, 512);
    return text;
}

std::wstring Wide(const std::string& text) {
    return com::FromAnsi(text);
}

struct WorkCall {
    const std::function<HRESULT()>* work;
    HRESULT result;
};

struct FileControls {
    int list, all, format, required, available, description;
};
constexpr FileControls kSimpleControls = {IDC_FILES_LIST,     IDC_FILES_ALL,       IDC_FILES_FORMAT,
                                          IDC_FILES_REQUIRED, IDC_FILES_AVAILABLE, IDC_FILES_DESCRIPTION};
constexpr FileControls kAdvancedControls = {IDC_ADVANCED_LIST,     IDC_ADVANCED_ALL,       IDC_ADVANCED_FORMAT,
                                            IDC_ADVANCED_REQUIRED, IDC_ADVANCED_AVAILABLE, IDC_ADVANCED_DESCRIPTION};
constexpr int kSimplePage = 1;
constexpr int kAdvancedPage = 6;

void AddColumn(HWND list, int index, UINT title, int width) {
    std::wstring text = LangString(title);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text.data();
    column.cx = width;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

int InsertRow(HWND list, int row, const std::wstring& first, LPARAM data) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(first.c_str());
    item.lParam = data;
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

LPARAM RowData(HWND list, int row) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

void SetRowState(HWND list, int row, UINT state, UINT mask) {
    LVITEMW item{};
    item.state = state;
    item.stateMask = mask;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

bool RowChecked(HWND list, int row) {
    return ((SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

// Whether the text fits the control's width in the control's font.
bool FitsControl(HWND control, const std::wstring& text) {
    RECT client{};
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cx <= client.right;
}

} // namespace

void ConfigureControl(HWND control, const std::wstring& text, long isEnabled, long isVisible, long flags) {
    if (!control)
        return;
    if (flags & 1)
        SetWindowTextW(control, text.c_str());
    if (flags & 2)
        EnableWindow(control, isEnabled != 0);
    if (flags & 4)
        ShowWindow(control, isVisible ? SW_SHOW : SW_HIDE);
}

UpdateWizard::UpdateWizard(std::wstring sysPackVersion, std::wstring zvId)
    : sysPackVersion_(std::move(sysPackVersion)), zvId_(std::move(zvId)),
      buttonEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    files_.kind = zvupdate::FilePage::Simple;
    advanced_.kind = zvupdate::FilePage::Advanced;
}

UpdateWizard::~UpdateWizard() {
    if (boldFont_)
        DeleteObject(boldFont_);
}

HWND UpdateWizard::Create() {
    if (!buttonEvent_)
        return nullptr;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    return CreateDialogParamW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDD_UPDATE_WIZARD), nullptr, WizardProc,
                              reinterpret_cast<LPARAM>(this));
}

HRESULT UpdateWizard::RunOnWizardThread(const std::function<HRESULT()>& work) {
    WorkCall call{&work, E_ABORT};
    if (!window_ || !SendMessageW(window_, kRunWorkMessage, 0, reinterpret_cast<LPARAM>(&call)))
        return E_ABORT;
    return call.result;
}

INT_PTR CALLBACK UpdateWizard::WizardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<UpdateWizard*>(lParam);
        self->window_ = window;
        self->Start();
        return TRUE;
    }
    auto* self = reinterpret_cast<UpdateWizard*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->HandleWizard(message, wParam, lParam) : FALSE;
}

void UpdateWizard::Start() {
    HICON icon = LoadIconW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDI_UPDATE));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendDlgItemMessageW(window_, IDC_WIZARD_LABEL_WARNING, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32515)) /* IDI_WARNING */), 0);
    LOGFONTW font{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfWeight = FW_BOLD;
    boldFont_ = CreateFontIndirectW(&font);
    CreatePages();
    SetWindowTextW(window_, title_.c_str());
    SetTimer(window_, kFrontTimer, 1000, nullptr);
}

void UpdateWizard::CreatePages() {
    RECT area = {0, 38, 330, 200};
    MapDialogRect(window_, &area);
    for (int i = 0; i < kPageCount; ++i) {
        if (pages_[i])
            continue;
        pages_[i] = CreateDialogParamW(dll::LanguageLibrary(), MAKEINTRESOURCEW(kPageTemplates[i]), window_, PageProc,
                                       reinterpret_cast<LPARAM>(this));
        if (!pages_[i])
            continue;
        SetWindowPos(pages_[i], nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
        EnableWindow(pages_[i], FALSE);
    }
    // Level page: the radio buttons in bold.
    for (int n = 0; n < 3 && boldFont_; ++n)
        SendDlgItemMessageW(pages_[0], IDC_LEVEL_RADIO1 + n, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);
    RedrawLevelPage();
    // File pages: lists with their columns.
    for (bool advanced : {false, true}) {
        const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
        HWND list = GetDlgItem(pages_[advanced ? kAdvancedPage : kSimplePage], ids.list);
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                     LVS_EX_FULLROWSELECT | (advanced ? LVS_EX_CHECKBOXES : 0));
        AddColumn(list, 0, IDS_UPDATE_COLUMN_NAME, 180);
        AddColumn(list, 1, IDS_UPDATE_COLUMN_SIZE, 100);
        RecomputeSpace(advanced);
    }
    // Progress page.
    for (bool ex : {false, true}) {
        SendDlgItemMessageW(pages_[kProgressPage], ex ? IDC_PROGRESS_BAR_EX : IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 100);
        UpdateBar(ex);
    }
    // Device page: its columns; the unknown-device box waits for the script to configure it.
    HWND devices = GetDlgItem(pages_[kDevicesPage], IDC_DEVICES_LIST);
    SendMessageW(devices, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    AddColumn(devices, 0, IDS_UPDATE_COLUMN_NAME, 140);
    AddColumn(devices, 1, IDS_UPDATE_COLUMN_VERSION, 80);
    AddColumn(devices, 2, IDS_UPDATE_COLUMN_ID, 80);
    AddColumn(devices, 3, IDS_UPDATE_COLUMN_DESCRIPTION, 240);
    SetUnknownDevice(unknownDevice);
    ConfigureControl(GetDlgItem(pages_[kDevicesPage], IDC_DEVICES_UNKNOWN), L"", 0, 0, 7);
}

INT_PTR UpdateWizard::HandleWizard(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kRunWorkMessage: {
        auto* call = reinterpret_cast<WorkCall*>(lParam);
        call->result = (*call->work)();
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    case kShowPageMessage:
    case kHidePageMessage:
        ShowPage(static_cast<int>(wParam), message == kShowPageMessage && lParam != 0);
        return TRUE;
    case WM_COMMAND:
        OnButton(LOWORD(wParam));
        return TRUE;
    case WM_DRAWITEM:
        if (wParam == IDC_WIZARD_HEADER) {
            DrawHeader(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == kFrontTimer) {
            KillTimer(window_, kFrontTimer);
            SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetFocus(window_);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

void UpdateWizard::OnButton(int id) {
    switch (id) {
    case IDC_WIZARD_BACK:
    case IDC_WIZARD_NEXT:
        pressed_ = id;
        SetEvent(buttonEvent_.Get());
        break;
    case IDOK:
        pressed_ = IDOK;
        SetEvent(buttonEvent_.Get());
        PostQuitMessage(1);
        break;
    case IDCANCEL:
        // The wizard stays; the script decides what a cancel means.
        pressed_ = IDCANCEL;
        for (int button : {IDC_WIZARD_BACK, IDC_WIZARD_NEXT, IDCANCEL})
            EnableWindow(GetDlgItem(window_, button), FALSE);
        SetEvent(buttonEvent_.Get());
        break;
    default:
        break;
    }
}

void UpdateWizard::DrawHeader(const DRAWITEMSTRUCT& item) {
    RECT area = item.rcItem;
    FillRect(item.hDC, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkColor(item.hDC, RGB(255, 255, 255));
    SetTextColor(item.hDC, RGB(0, 0, 0));
    const int height = area.bottom - area.top;
    RECT upper = {area.left + 8, area.top + 4, area.right - 48, area.top + height / 2};
    RECT lower = {area.left + 16, area.top + height / 2, area.right - 48, area.bottom - 2};
    HGDIOBJ old = SelectObject(item.hDC, boldFont_ ? boldFont_ : GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(item.hDC, headerText_.c_str(), -1, &upper, DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(item.hDC, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(item.hDC, headerSubtext_.c_str(), -1, &lower, DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(item.hDC, old);
    for (int picture : {IDC_WIZARD_LABEL_NORMAL, IDC_WIZARD_LABEL_WARNING})
        InvalidateRect(GetDlgItem(window_, picture), nullptr, TRUE);
}

void UpdateWizard::SetTitle(const std::wstring& title) {
    title_ = title;
    SetWindowTextW(window_, title_.c_str());
}

void UpdateWizard::SetHeader(const std::wstring* text, const std::wstring* subtext) {
    if (text)
        headerText_ = *text;
    if (subtext)
        headerSubtext_ = *subtext;
    InvalidateRect(GetDlgItem(window_, IDC_WIZARD_HEADER), nullptr, TRUE);
}

void UpdateWizard::SetLabel(long label) {
    const bool normal = label == 0;
    for (auto [id, show] : {std::pair{IDC_WIZARD_LABEL_NORMAL, normal}, std::pair{IDC_WIZARD_LABEL_WARNING, !normal}}) {
        HWND picture = GetDlgItem(window_, id);
        ShowWindow(picture, show ? SW_SHOW : SW_HIDE);
        EnableWindow(picture, show);
    }
    InvalidateRect(GetDlgItem(window_, IDC_WIZARD_HEADER), nullptr, TRUE);
}

void UpdateWizard::ConfigButton(int id, const std::wstring& text, long isEnabled, long isVisible, long flags) {
    ConfigureControl(GetDlgItem(window_, id), text, isEnabled, isVisible, flags);
}

void UpdateWizard::SetPageText(int index, int control, const std::wstring& text) {
    SetDlgItemTextW(pages_[index], control, text.c_str());
}

void UpdateWizard::ShowPage(int number, bool show) {
    if (number < kFirstPage || number > kPageCount)
        return;
    const int index = number - kFirstPage;
    HWND page = pages_[index];
    if (!page)
        return;
    if (show) {
        EnableWindow(page, TRUE);
        ShowWindow(page, SW_SHOW);
    } else {
        CommitPage(index);
        pageHasWizard_[index] = false;
        ShowWindow(page, SW_HIDE);
        EnableWindow(page, FALSE);
    }
}

void UpdateWizard::CommitPage(int index) {
    switch (index) {
    case 0:
        for (int n = 0; n < 3; ++n) {
            if (IsDlgButtonChecked(pages_[0], IDC_LEVEL_RADIO1 + n) == BST_CHECKED) {
                level = n + 1;
                break;
            }
        }
        break;
    case kSimplePage:
    case kAdvancedPage: {
        FilePageState& state = Files(index == kAdvancedPage);
        zvupdate::CommitFileSelection(state.kind, state.formatFlash, state.updates, state.devices);
        break;
    }
    case kDevicesPage: {
        const int row = SelectedDeviceRow();
        selectedDeviceId = row >= 0 && row < static_cast<int>(deviceRows.size()) ? deviceRows[row].zvId : L"";
        break;
    }
    default:
        break;
    }
}

void UpdateWizard::HandPageTheWizard(int index) {
    pageHasWizard_[index] = true;
    if (index == kSimplePage || index == kAdvancedPage)
        RecomputeSpace(index == kAdvancedPage);
    else if (index == kDevicesPage)
        UpdateNextForDevices();
}

INT_PTR CALLBACK UpdateWizard::PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(page, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<UpdateWizard*>(GetWindowLongPtrW(page, DWLP_USER));
    if (!self)
        return FALSE;
    for (int i = 0; i < kPageCount; ++i)
        if (self->pages_[i] == page)
            return self->HandlePage(i, message, wParam, lParam);
    return FALSE;
}

INT_PTR UpdateWizard::HandlePage(int index, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND page = pages_[index];
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        if (index != kSimplePage && index != kAdvancedPage)
            return FALSE;
        const FileControls& ids = index == kAdvancedPage ? kAdvancedControls : kSimpleControls;
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id != ids.required && id != ids.available)
            return FALSE;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, Files(index == kAdvancedPage).overflow ? RGB(255, 0, 0) : RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        if (index == 0 && id >= IDC_LEVEL_RADIO1 && id <= IDC_LEVEL_RADIO3) {
            // The three levels are one group even with their descriptions between them: the
            // clicked one is the only one on.
            CheckRadioButton(page, IDC_LEVEL_RADIO1, IDC_LEVEL_RADIO3, id);
        } else if (id == IDC_FILES_ALL || id == IDC_ADVANCED_ALL) {
            const bool advanced = id == IDC_ADVANCED_ALL;
            Files(advanced).selectAll = IsDlgButtonChecked(page, id) == BST_CHECKED;
            ApplySelectAll(advanced);
        } else if (id == IDC_FILES_FORMAT || id == IDC_ADVANCED_FORMAT) {
            const bool advanced = id == IDC_ADVANCED_FORMAT;
            Files(advanced).formatFlash = IsDlgButtonChecked(page, id) == BST_CHECKED;
            RecomputeSpace(advanced);
        } else if (id == IDC_DEVICES_UNKNOWN) {
            SetUnknownDevice(IsDlgButtonChecked(page, id) == BST_CHECKED);
        }
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if ((index == kSimplePage || index == kAdvancedPage) && header->code == LVN_ITEMCHANGED) {
            OnFileListChange(index == kAdvancedPage, *reinterpret_cast<const NMLISTVIEW*>(lParam));
        } else if (index == kAdvancedPage && header->code == LVN_COLUMNCLICK) {
            advanced_.order.Click(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            RefillFiles(true);
        } else if (index == kDevicesPage && header->code == LVN_ITEMCHANGED) {
            OnDeviceListChange();
        }
        return TRUE;
    }
    case WM_TIMER:
        if (index == kProgressPage && wParam == kAutoProgressTimer)
            OnAutoProgressTick();
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- update level page ----

void UpdateWizard::RedrawLevelPage() {
    HWND page = pages_[0];
    if (!page)
        return;
    for (int n = 1; n <= 3; ++n) {
        std::wstring name = levelNames[n - 1];
        if (n == recommendedLevel)
            name += L" " + LangString(IDS_UPDATE_RECOMMENDED);
        SetDlgItemTextW(page, IDC_LEVEL_RADIO1 + n - 1, name.c_str());
        SetDlgItemTextW(page, IDC_LEVEL_TEXT1 + n - 1, levelDescriptions[n - 1].c_str());
        CheckDlgButton(page, IDC_LEVEL_RADIO1 + n - 1, n == level ? BST_CHECKED : BST_UNCHECKED);
    }
}

// ---- file pages ----

void UpdateWizard::RefillFiles(bool advanced) {
    FilePageState& state = Files(advanced);
    const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
    HWND page = pages_[advanced ? kAdvancedPage : kSimplePage];
    HWND list = GetDlgItem(page, ids.list);
    state.filling = true;
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    EnableWindow(list, !state.selectAll);
    std::vector<size_t> order(state.updates.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (advanced)
        state.order.Sort(order, state.updates);
    int row = 0;
    for (size_t i : order) {
        zvupdate::UpdateFile& file = state.updates[i];
        if (state.selectAll)
            file.selected = true;
        const int at = InsertRow(list, row, Wide(advanced ? file.appName : file.name), static_cast<LPARAM>(i));
        SetCell(list, at, 1, Wide(zvupdate::FormatSize(static_cast<uint64_t>(std::max<int64_t>(file.length, 0)))));
        if (advanced)
            SetRowState(list, at, INDEXTOSTATEIMAGEMASK(file.selected ? 2 : 1), LVIS_STATEIMAGEMASK);
        else
            SetRowState(list, at, file.selected ? LVIS_SELECTED : 0, LVIS_SELECTED);
        ++row;
    }
    state.filling = false;
    RecomputeSpace(advanced);
}

void UpdateWizard::RecomputeSpace(bool advanced) {
    FilePageState& state = Files(advanced);
    const int index = advanced ? kAdvancedPage : kSimplePage;
    const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
    HWND page = pages_[index];
    const zvupdate::SpaceFigures figures = zvupdate::ComputeSpace(state.kind, state.updates, state.devices,
                                                                  state.formatFlash, state.freeSpace, state.totalSpace);
    state.requiredSpace = zvupdate::ClampToLong(figures.required);
    state.overflow = !figures.Fits();
    if (!page)
        return;
    SetDlgItemTextW(page, ids.required,
                    Wide(zvupdate::FormatSize(static_cast<uint64_t>(std::max<int64_t>(figures.required, 0)))).c_str());
    SetDlgItemTextW(page, ids.available,
                    Wide(zvupdate::FormatSize(static_cast<uint64_t>(std::max<int64_t>(figures.available, 0)))).c_str());
    InvalidateRect(GetDlgItem(page, ids.required), nullptr, TRUE);
    InvalidateRect(GetDlgItem(page, ids.available), nullptr, TRUE);
    if (pageHasWizard_[index])
        EnableWindow(GetDlgItem(window_, IDC_WIZARD_NEXT), figures.Fits());
}

void UpdateWizard::ApplySelectAll(bool advanced) {
    FilePageState& state = Files(advanced);
    const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
    CheckDlgButton(pages_[advanced ? kAdvancedPage : kSimplePage], ids.all, state.selectAll ? BST_CHECKED : BST_UNCHECKED);
    for (auto& file : state.updates)
        file.selected = state.selectAll;
    RefillFiles(advanced);
}

void UpdateWizard::ApplyFormatFlash(bool advanced) {
    FilePageState& state = Files(advanced);
    const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
    CheckDlgButton(pages_[advanced ? kAdvancedPage : kSimplePage], ids.format,
                   state.formatFlash ? BST_CHECKED : BST_UNCHECKED);
    RecomputeSpace(advanced);
}

void UpdateWizard::OnFileListChange(bool advanced, const NMLISTVIEW& change) {
    FilePageState& state = Files(advanced);
    if (state.filling)
        return;
    const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
    HWND list = GetDlgItem(pages_[advanced ? kAdvancedPage : kSimplePage], ids.list);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    auto readRow = [&](int row) {
        const auto file = static_cast<size_t>(RowData(list, row));
        if (file >= state.updates.size())
            return;
        state.updates[file].selected =
            advanced ? RowChecked(list, row) : (SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
    };
    if (change.iItem < 0) {
        for (int row = 0; row < count; ++row)
            readRow(row);
    } else if (change.iItem < count) {
        readRow(change.iItem);
    }
    RecomputeSpace(advanced);
    ShowFileDescription(advanced);
}

void UpdateWizard::ShowFileDescription(bool advanced) {
    FilePageState& state = Files(advanced);
    const FileControls& ids = advanced ? kAdvancedControls : kSimpleControls;
    HWND page = pages_[advanced ? kAdvancedPage : kSimplePage];
    HWND list = GetDlgItem(page, ids.list);
    const int row = static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), advanced ? LVNI_SELECTED : LVNI_FOCUSED));
    std::wstring text;
    if (row >= 0) {
        const auto file = static_cast<size_t>(RowData(list, row));
        if (file < state.updates.size())
            text = Wide(state.updates[file].description);
    }
    SetDlgItemTextW(page, ids.description, text.c_str());
}

// ---- progress page ----

void UpdateWizard::UpdateBar(bool ex) {
    const long r = ex ? rangeEx : range;
    const long p = ex ? positionEx : position;
    if (r == 0)
        return;
    const int percent = zvupdate::BarPercent(p, r);
    HWND page = pages_[kProgressPage];
    SendDlgItemMessageW(page, ex ? IDC_PROGRESS_BAR_EX : IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
    wchar_t text[16];
    swprintf(text, 16, L"%d%%", percent);
    SetDlgItemTextW(page, ex ? IDC_PROGRESS_PERCENT_EX : IDC_PROGRESS_PERCENT, text);
}

void UpdateWizard::SetRange(bool ex, long value) {
    long& r = ex ? rangeEx : range;
    long& p = ex ? positionEx : position;
    r = value;
    p = std::clamp<long>(p, 0, std::max<long>(r, 0));
    UpdateBar(ex);
}

void UpdateWizard::SetPosition(bool ex, long value) {
    const long r = ex ? rangeEx : range;
    (ex ? positionEx : position) = std::clamp<long>(value, 0, std::max<long>(r, 0));
    UpdateBar(ex);
}

void UpdateWizard::EnableProgressEx(bool enabled) {
    for (int id : {IDC_PROGRESS_TEXT_EX, IDC_PROGRESS_BAR_EX, IDC_PROGRESS_PERCENT_EX}) {
        HWND control = GetDlgItem(pages_[kProgressPage], id);
        ShowWindow(control, enabled ? SW_SHOW : SW_HIDE);
        EnableWindow(control, enabled);
    }
}

void UpdateWizard::SetProgressText(bool ex, const std::wstring& text) {
    (ex ? progressTextEx_ : progressText_) = text;
    HWND control = GetDlgItem(pages_[kProgressPage], ex ? IDC_PROGRESS_TEXT_EX : IDC_PROGRESS_TEXT);
    const std::string narrow = com::TerminatedToAnsi(text.c_str());
    const std::string shown = zvupdate::ShortenProgressText(
        narrow, [control](const std::string& candidate) { return FitsControl(control, com::FromAnsi(candidate)); });
    SetWindowTextW(control, com::FromAnsi(shown).c_str());
}

void UpdateWizard::AutoProgressStart(long totalMs, long count) {
    if (count <= 0)
        return;
    autoStep_ = 0;
    autoCount_ = count;
    SetRange(false, count);
    SetPosition(false, 0);
    autoInterval_ = zvupdate::AutoProgressInterval(totalMs, count);
    autoRunning_ = true;
    SetTimer(pages_[kProgressPage], kAutoProgressTimer, autoInterval_, nullptr);
}

void UpdateWizard::OnAutoProgressTick() {
    KillTimer(pages_[kProgressPage], kAutoProgressTimer);
    if (!autoRunning_)
        return;
    ++autoStep_;
    SetPosition(false, autoStep_);
    if (autoStep_ < autoCount_)
        SetTimer(pages_[kProgressPage], kAutoProgressTimer, autoInterval_, nullptr);
    else
        autoRunning_ = false;
}

void UpdateWizard::AutoProgressWait() {
    if (autoRunning_)
        KillTimer(pages_[kProgressPage], kAutoProgressTimer);
}

void UpdateWizard::AutoProgressResume() {
    if (autoRunning_)
        SetTimer(pages_[kProgressPage], kAutoProgressTimer, autoInterval_, nullptr);
}

void UpdateWizard::AutoProgressStop() {
    KillTimer(pages_[kProgressPage], kAutoProgressTimer);
    autoRunning_ = false;
    SetPosition(false, range);
}

void UpdateWizard::ShowAnimation(int number) {
    HWND animation = GetDlgItem(pages_[kProgressPage], IDC_PROGRESS_ANIMATION);
    ShowWindow(animation, SW_SHOW);
    EnableWindow(animation, TRUE);
    SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(dll::LanguageLibrary()),
                 reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(IDA_UPDATE_FILE_TO_DEVICE + number)));
    SendMessageW(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
}

void UpdateWizard::HideAnimation() {
    HWND animation = GetDlgItem(pages_[kProgressPage], IDC_PROGRESS_ANIMATION);
    SendMessageW(animation, ACM_STOP, 0, 0);
    SendMessageW(animation, ACM_OPENW, 0, 0);
    ShowWindow(animation, SW_HIDE);
    EnableWindow(animation, FALSE);
}

// ---- device page ----

int UpdateWizard::SelectedDeviceRow() const {
    HWND list = GetDlgItem(pages_[kDevicesPage], IDC_DEVICES_LIST);
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void UpdateWizard::AddDeviceRow(DeviceRow row) {
    HWND list = GetDlgItem(pages_[kDevicesPage], IDC_DEVICES_LIST);
    const int at = InsertRow(list, static_cast<int>(deviceRows.size()), row.name, 0);
    SetCell(list, at, 1, row.sysPackVersion);
    SetCell(list, at, 2, row.zvId);
    SetCell(list, at, 3, row.description);
    deviceRows.push_back(std::move(row));
}

void UpdateWizard::RemoveDeviceRows() {
    deviceRows.clear();
    SendDlgItemMessageW(pages_[kDevicesPage], IDC_DEVICES_LIST, LVM_DELETEALLITEMS, 0, 0);
}

void UpdateWizard::OnDeviceListChange() {
    if (!pageHasWizard_[kDevicesPage])
        return;
    const int row = SelectedDeviceRow();
    selectedDeviceId = row >= 0 && row < static_cast<int>(deviceRows.size()) ? deviceRows[row].zvId : L"";
    UpdateNextForDevices();
}

void UpdateWizard::UpdateNextForDevices() {
    if (pageHasWizard_[kDevicesPage])
        EnableWindow(GetDlgItem(window_, IDC_WIZARD_NEXT), unknownDevice || !selectedDeviceId.empty());
}

void UpdateWizard::SetUnknownDevice(bool unknown) {
    unknownDevice = unknown;
    CheckDlgButton(pages_[kDevicesPage], IDC_DEVICES_UNKNOWN, unknown ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(pages_[kDevicesPage], IDC_DEVICES_LIST), !unknown);
    UpdateNextForDevices();
}

void UpdateWizard::SelectDeviceId(const std::wstring& id) {
    HWND list = GetDlgItem(pages_[kDevicesPage], IDC_DEVICES_LIST);
    for (size_t row = 0; row < deviceRows.size(); ++row) {
        if (deviceRows[row].zvId == id) {
            SetRowState(list, static_cast<int>(row), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            selectedDeviceId = id;
            break;
        }
    }
    UpdateNextForDevices();
}

} // namespace tv::update
