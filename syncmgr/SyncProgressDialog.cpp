#include "HResult.h"
#include "SyncProgressDialog.h"
#include "DllModule.h"
#include "LangIds.h"
#include "SyncManager.h"
#include "SyncText.h"
#include <algorithm>
#include <cstdio>
#include <memory>

namespace tv::sync {
namespace {

constexpr DWORD kHubDialogContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD kStepThreadWaitMs = 10000;
constexpr int kProgressRange = 1000;
constexpr int kNameLength = 512;

template <class... Args> std::string Format(const std::string& format, Args... args) {
    char text[1024] = {};
    std::snprintf(text, sizeof(text), format.c_str(), args...);
    return text;
}

} // namespace

HRESULT RunSessionDialog(IZvSyncMgr* manager, const std::string& deviceId, const std::string& deviceName,
                         bool autoStart) {
    com::ComPtr<SyncProgressDialog> dialog;
    TV_RETURN_IF_FAILED(com::MakeComObject(dialog));
    TV_RETURN_IF_FAILED(dialog->Create());
    // A failing initialisation keeps what it made and the dialog is still shown.
    dialog->Initialise(manager, deviceId, deviceName);
    HWND window = dialog->Window();
    ShowWindow(window, SW_SHOW);
    if (autoStart)
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SYNC_START, BN_CLICKED), 0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    DestroyWindow(window);
    return S_OK;
}

SyncProgressDialog::~SyncProgressDialog() {
    if (window_)
        DestroyWindow(window_);
    if (images_)
        ImageList_Destroy(images_);
    if (boldFont_)
        DeleteObject(boldFont_);
}

HRESULT SyncProgressDialog::Create() {
    HMODULE language = dll::LanguageLibrary();
    if (!language)
        return E_FAIL;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    window_ = CreateDialogParamW(language, MAKEINTRESOURCEW(IDD_SYNC_PROGRESS), nullptr, DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    return window_ ? S_OK : E_FAIL;
}

std::string SyncProgressDialog::Text(UINT id) const {
    char text[1024] = {};
    HMODULE language = dll::LanguageLibrary();
    if (!language || LoadStringA(language, id, text, sizeof(text)) <= 0)
        return {};
    return text;
}

INT_PTR CALLBACK SyncProgressDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<SyncProgressDialog*>(lParam);
        self->window_ = window;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<SyncProgressDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window_ = nullptr;
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

void SyncProgressDialog::OnInitDialog() {
    HMODULE language = dll::LanguageLibrary();
    if (HICON icon = static_cast<HICON>(LoadImageW(language, MAKEINTRESOURCEW(IDI_PROGRAM_MAIN), IMAGE_ICON,
                                                   0, 0, LR_DEFAULTSIZE | LR_SHARED)))
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubDialogContext, __uuidof(IZelvanMgrDisp2),
                                   reinterpret_cast<void**>(&hub_))))
        hub_->PutBusyUI(static_cast<long>(reinterpret_cast<LONG_PTR>(window_)), VARIANT_TRUE);
    list_ = GetDlgItem(window_, IDC_SYNC_LIST);
    progress_ = GetDlgItem(window_, IDC_SYNC_PROGRESS);
    images_ = ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 0, 10);
    if (HFONT font =
            reinterpret_cast<HFONT>(SendDlgItemMessageW(window_, IDC_SYNC_STATUS, WM_GETFONT, 0, 0))) {
        LOGFONTW description = {};
        if (GetObjectW(font, sizeof(description), &description)) {
            description.lfWeight = FW_BOLD;
            boldFont_ = CreateFontIndirectW(&description);
            SendDlgItemMessageW(window_, IDC_SYNC_STATUS, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_),
                                TRUE);
        }
    }
    const UINT headers[] = {IDS_SYNC_COLUMN_NAME, IDS_SYNC_COLUMN_STATUS};
    for (int column = 0; column < 2; ++column) {
        std::string header = Text(headers[column]);
        LVCOLUMNA description = {};
        description.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        description.cx = 120;
        description.pszText = header.data();
        description.iSubItem = column;
        SendMessageA(list_, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&description));
    }
    ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    ListView_SetImageList(list_, images_, LVSIL_SMALL);
}

HRESULT SyncProgressDialog::Initialise(IZvSyncMgr* manager, const std::string& deviceId,
                                       const std::string& deviceName) {
    if (!manager)
        return E_POINTER;
    manager_ = manager;
    deviceId_ = deviceId;
    deviceName_ = deviceName;
    ZVSYNCRESOLUTION resolution = SSR_MANUAL_RESOLUTION;
    TV_RETURN_IF_FAILED(manager_->get_ConflictResolution(deviceId_.data(), &resolution));
    std::string idCopy = deviceId_;
    LPSTR devices[] = {idCopy.data()};
    com::ComPtr<IZvEnumSyncComponents> components;
    TV_RETURN_IF_FAILED(
        manager_->EnumComponents(1, static_cast<LONG>(idCopy.size() + 1), devices, 0, &components));
    for (;;) {
        com::ComPtr<IZvSynchronizer> synchronizer;
        CLSID clsid = {};
        LONG fetched = 0;
        HRESULT hr = components->Next(1, &synchronizer, &clsid, &fetched);
        TV_RETURN_IF_FAILED(hr);
        if (hr != S_OK || fetched != 1)
            break;
        TV_RETURN_IF_FAILED(synchronizer->SetDevice(deviceId_.data()));
        TV_RETURN_IF_FAILED(synchronizer->SetConflictResolution(resolution));
        HRESULT scheduled = manager_->IsComponentScheduled(&clsid, deviceId_.data());
        TV_RETURN_IF_FAILED(scheduled);
        TV_RETURN_IF_FAILED(AddRow(synchronizer.Get(), scheduled == S_OK));
    }

    int widest = 0;
    for (const Row& row : rows_)
        widest = std::max(widest, static_cast<int>(SendMessageA(list_, LVM_GETSTRINGWIDTHA, 0,
                                                                reinterpret_cast<LPARAM>(row.name.c_str()))) +
                                      16);
    const int first = std::max(widest, ListView_GetColumnWidth(list_, 0)) + 8;
    ListView_SetColumnWidth(list_, 0, first);
    RECT client = {};
    GetClientRect(list_, &client);
    ListView_SetColumnWidth(list_, 1, std::max(0, static_cast<int>(client.right) - first - 8));

    const std::string shown =
        !deviceName_.empty() && deviceName_ != deviceId_ ? deviceName_ + " <" + deviceId_ + ">" : deviceId_;
    SetWindowTextA(window_, Format(Text(IDS_SYNC_TITLE), shown.c_str()).c_str());
    ResetSession();
    return S_OK;
}

HRESULT SyncProgressDialog::AddRow(IZvSynchronizer* synchronizer, bool scheduled) {
    com::ComPtr<IZvSyncNotify> notify;
    if (FAILED(synchronizer->QueryInterface(__uuidof(IZvSyncNotify), reinterpret_cast<void**>(&notify))))
        return S_OK; // a synchronizer without progress sinks is not listed
    Row row;
    row.synchronizer = synchronizer;
    TV_RETURN_IF_FAILED(synchronizer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&row.identity)));
    unsigned char name[kNameLength] = {};
    TV_RETURN_IF_FAILED(synchronizer->GetUserFriendlyName(kNameLength, name));
    name[kNameLength - 1] = 0;
    row.name = reinterpret_cast<const char*>(name);
    TV_RETURN_IF_FAILED(synchronizer->SetParentWindow(reinterpret_cast<ULONG_PTR>(window_)));
    TV_RETURN_IF_FAILED(notify->Advise(this, &row.cookie));
    row.advised = true;
    rows_.push_back(std::move(row));
    const int index = static_cast<int>(rows_.size() - 1);
    com::ComPtr<IZvSynchronizerGUI> gui; // its icon is not used: every row shows the same one
    synchronizer->QueryInterface(__uuidof(IZvSynchronizerGUI), reinterpret_cast<void**>(&gui));
    HICON icon = static_cast<HICON>(
        LoadImageW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDI_SYNC_ROW), IMAGE_ICON, 16, 16, LR_SHARED));
    const int image = icon ? ImageList_AddIcon(images_, icon) : -1;
    if (image < 0)
        return E_FAIL;
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = index;
    item.pszText = rows_.back().name.data();
    item.iImage = image;
    item.lParam = index;
    if (SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) < 0)
        return E_FAIL;
    ListView_SetCheckState(list_, index, scheduled ? TRUE : FALSE);
    return S_OK;
}

int SyncProgressDialog::FindRow(IZvSynchronizer* source) const {
    com::ComPtr<IUnknown> identity;
    if (FAILED(source->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
        return -1;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].identity.Get() == identity.Get())
            return static_cast<int>(i);
    return -1;
}

// ---- the sink ----

HRESULT SyncProgressDialog::ReportedRow(IZvSynchronizer* source, int phase, int& row) const {
    if (!source)
        return E_INVALIDARG;
    row = FindRow(source);
    if (row < 0)
        return E_FAIL;
    // A report of a phase that is not running (late, or a repeated completion) changes nothing.
    return IsRunning(row, phase) ? S_OK : S_FALSE;
}

STDMETHODIMP SyncProgressDialog::OnUpdate(IZvSynchronizer* pSource, ZVSYNCPHASE phase, ZVSYNCSTATUS status,
                                          ULONG nDone, ULONG nTotal) {
    if (!pSource)
        return E_INVALIDARG;
    long total = 0, synchronized = 0, unresolved = 0;
    HRESULT counted = S_OK;
    const auto count = [&](HRESULT (STDMETHODCALLTYPE IZvSynchronizer::*getter)(LONG*), long& out) {
        if (SUCCEEDED(counted))
            counted = (pSource->*getter)(&out);
    };
    std::string text;
    switch (phase) {
    case SPH_INITIALIZE:
        text = Text(IDS_SYNC_PHASE_INITIALIZE);
        break;
    case SPH_SYNCHRONIZE_ESTIMATE:
        text = Text(IDS_SYNC_PHASE_ESTIMATE);
        break;
    case SPH_SYNCHRONIZE_TRANSFER:
        count(&IZvSynchronizer::GetTotalItems, total);
        count(&IZvSynchronizer::GetSynchronizedItems, synchronized);
        count(&IZvSynchronizer::GetUnresolvedItems, unresolved);
        text = Format(Text(IDS_SYNC_PHASE_TRANSFER), total, synchronized, unresolved);
        break;
    case SPH_SYNCHRONIZE_RESOLVE:
        count(&IZvSynchronizer::GetUnresolvedItems, unresolved);
        text = Format(Text(IDS_SYNC_PHASE_RESOLVE), unresolved);
        break;
    case SPH_FINALIZE:
        if (status == SST_COMPLETE) {
            count(&IZvSynchronizer::GetUnresolvedItems, unresolved);
            text = unresolved < 1 ? Text(IDS_SYNC_DONE) : Format(Text(IDS_SYNC_DONE_UNRESOLVED), unresolved);
        } else {
            text = Text(IDS_SYNC_PHASE_FINALIZE);
        }
        break;
    default:
        break;
    }
    if (FAILED(counted)) {
        // No update without the counts. A phase that reports its end has ended all the same:
        // it ends as failed, so that the session does not wait for an end that will not come.
        int row = -1;
        if (status == SST_COMPLETE && ReportedRow(pSource, phase, row) == S_OK)
            PostStepEnd(kFailed, row, phase);
        return counted;
    }
    return OnCustomUpdate(pSource, phase, status, text.data(), nDone, nTotal);
}

STDMETHODIMP SyncProgressDialog::OnCustomUpdate(IZvSynchronizer* pSource, ZVSYNCPHASE phase,
                                                ZVSYNCSTATUS status, LPSTR description, ULONG nDone,
                                                ULONG nTotal) {
    int row = -1;
    const HRESULT found = ReportedRow(pSource, phase, row);
    if (found != S_OK)
        return SUCCEEDED(found) ? S_OK : found;
    SetRowStatus(row, stopped_ ? Text(IDS_SYNC_ROW_STOPPED) : std::string(description ? description : ""));
    switch (status) {
    case SST_START:
        ResetProgress();
        break;
    case SST_UPDATE: {
        SendMessageW(progress_, PBM_SETRANGE32, 0, kProgressRange);
        std::int32_t position = 0;
        if (ProgressPosition(nDone, nTotal, kProgressRange, position))
            SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        break;
    }
    case SST_COMPLETE:
        PostStepEnd(stopped_ ? kStopped : kCompleted, row, phase);
        break;
    default:
        break;
    }
    return S_OK;
}

STDMETHODIMP SyncProgressDialog::OnError(IZvSynchronizer* pSource, ZVSYNCPHASE phase, LPSTR description) {
    int row = -1;
    const HRESULT found = ReportedRow(pSource, phase, row);
    if (found != S_OK)
        return SUCCEEDED(found) ? S_OK : found;
    const std::string reason = description && *description ? description : Text(IDS_SYNC_ROW_UNKNOWN_ERROR);
    SetRowStatus(row, Format(Text(IDS_SYNC_ROW_ERROR), reason.c_str()));
    PostStepEnd(kFailed, row, phase);
    return S_OK;
}

void SyncProgressDialog::PostStepEnd(StepEnd kind, int row, int phase) {
    PostMessageW(window_, kStepEndMessage, kind, MAKELPARAM(row, phase));
}

// ---- the session ----

INT_PTR SyncProgressDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SYNC_START:
            if (!IsWindowEnabled(GetDlgItem(window_, IDC_SYNC_START)))
                return TRUE;
            ResetSession();
            StepNext();
            return TRUE;
        case IDC_SYNC_STOP:
            Stop();
            return TRUE;
        case IDC_SYNC_CLOSE:
        case IDCANCEL:
            Close();
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_SYNC_LIST && header->code == LVN_ITEMCHANGING) {
            auto* change = reinterpret_cast<NMLISTVIEW*>(lParam);
            const bool checkChange = (change->uChanged & LVIF_STATE) &&
                                     ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK);
            const bool refuse = checkChange && !IsWindowEnabled(GetDlgItem(window_, IDC_SYNC_START));
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, refuse ? TRUE : FALSE);
            return TRUE;
        }
        return FALSE;
    }
    case kStepEndMessage:
        OnStepEnd(wParam, static_cast<short>(LOWORD(lParam)), HIWORD(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

void SyncProgressDialog::ResetSession() {
    for (size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].lastPhase = 0;
        if (IsChecked(static_cast<int>(i)))
            SetRowStatus(static_cast<int>(i), {});
    }
    runningRow_ = -1;
    runningPhase_ = 0;
    stopped_ = false;
    SetStatus(IDS_SYNC_READY);
    ResetProgress();
    SetButtons(false);
}

void SyncProgressDialog::StepNext() {
    if (runningRow_ >= 0 || stopped_ || closing_)
        return;
    bool anyChecked = false;
    for (size_t i = 0; i < rows_.size(); ++i) {
        const int index = static_cast<int>(i);
        Row& row = rows_[i];
        if (!IsChecked(index))
            continue;
        anyChecked = true;
        if (row.lastPhase >= SPH_FINALIZE)
            continue;
        if (row.lastPhase == SPH_SYNCHRONIZE_TRANSFER) {
            long unresolved = 0;
            if (FAILED(row.synchronizer->GetUnresolvedItems(&unresolved))) {
                runningRow_ = index;
                EndStep(SPH_FINALIZE, IDS_SYNC_STEP_FAILED);
                continue;
            }
            if (unresolved == 0)
                row.lastPhase = SPH_SYNCHRONIZE_RESOLVE;
        }
        runningRow_ = index;
        runningPhase_ = row.lastPhase + 1;
        if (FAILED(manager_->SyncStep(row.synchronizer.Get(), static_cast<ZVSYNCPHASE>(runningPhase_)))) {
            EndStep(SPH_FINALIZE, IDS_SYNC_STEP_FAILED);
            continue;
        }
        SetStatus(IDS_SYNC_RUNNING);
        SetButtons(true);
        return;
    }
    if (anyChecked) {
        SetStatus(IDS_SYNC_ALL_DONE);
        SetButtons(false);
        ResetProgress();
    } else {
        MessageBoxA(window_, Text(IDS_SYNC_NOTHING_CHECKED).c_str(), Text(IDS_SYNC_NOTHING_CAPTION).c_str(),
                    MB_OK | MB_ICONINFORMATION);
    }
}

void SyncProgressDialog::EndStep(int lastPhase, UINT statusId) {
    if (runningRow_ >= 0 && static_cast<size_t>(runningRow_) < rows_.size())
        rows_[runningRow_].lastPhase = lastPhase;
    SetStatus(statusId);
    SetButtons(false);
    ResetProgress();
    runningRow_ = -1;
    runningPhase_ = 0;
}

void SyncProgressDialog::OnStepEnd(WPARAM kind, int row, int phase) {
    if (closing_ || !IsRunning(row, phase))
        return; // a repeated or late report of a step that has been handled
    if (!SyncManager::WaitForStepThread(kStepThreadWaitMs)) {
        closing_ = true;
        UnadviseAll();
        PostQuitMessage(0);
        return;
    }
    if (closing_ || !IsRunning(row, phase))
        return;
    if (kind == kFailed)
        EndStep(SPH_FINALIZE, IDS_SYNC_STEP_FAILED);
    else
        EndStep(runningPhase_, IDS_SYNC_READY);
    StepNext();
}

void SyncProgressDialog::Stop() {
    if (runningRow_ < 0 || stopped_)
        return;
    SetStatus(IDS_SYNC_STOPPING);
    EnableWindow(GetDlgItem(window_, IDC_SYNC_STOP), FALSE);
    stopped_ = true;
    com::ComPtr<IZvSynchronizer> running = rows_[runningRow_].synchronizer;
    running->Cancel();
}

void SyncProgressDialog::Close() {
    if (closing_)
        return;
    if (runningRow_ >= 0) {
        Stop();
        closing_ = true;
        // The phase is asked to end; the step thread must be gone before the device leaves PC mode.
        SyncManager::WaitForStepThread(kStepThreadWaitMs);
    }
    closing_ = true;
    UnadviseAll();
    PostQuitMessage(0);
}

void SyncProgressDialog::UnadviseAll() {
    for (Row& row : rows_) {
        if (!row.advised)
            continue;
        row.advised = false;
        com::ComPtr<IZvSyncNotify> notify;
        if (SUCCEEDED(
                row.synchronizer->QueryInterface(__uuidof(IZvSyncNotify), reinterpret_cast<void**>(&notify))))
            notify->Unadvise(row.cookie);
    }
}

void SyncProgressDialog::SetStatus(UINT id) {
    SetDlgItemTextA(window_, IDC_SYNC_STATUS, Text(id).c_str());
}

void SyncProgressDialog::SetRowStatus(int row, const std::string& text) {
    std::string copy = text;
    LVITEMA item = {};
    item.iSubItem = 1;
    item.pszText = copy.data();
    SendMessageA(list_, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

bool SyncProgressDialog::IsChecked(int row) const {
    return ListView_GetCheckState(list_, row) != 0;
}

void SyncProgressDialog::SetButtons(bool running) {
    EnableWindow(GetDlgItem(window_, IDC_SYNC_START), running ? FALSE : TRUE);
    EnableWindow(GetDlgItem(window_, IDC_SYNC_STOP), running ? TRUE : FALSE);
}

void SyncProgressDialog::ResetProgress() {
    SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
    SendMessageW(progress_, PBM_SETPOS, 0, 0);
}

} // namespace tv::sync
