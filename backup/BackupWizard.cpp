// The backup wizard on its own thread: welcome, choice, sets, classes and progress pages, and the
// worker thread that the progress page starts for the backuper.
#include "AnsiText.h"
#include "BackupIds.h"
#include "BackupJob.h"
#include "BackupManager.h"
#include "BackupProgressSink.h"
#include "BackupSettings.h"
#include "BackupTexts.h"
#include "CapArchive.h"
#include "DeviceGuards.h"
#include "FileClass.h"
#include "MessagePump.h"
#include "SetNames.h"
#include <commctrl.h>
#include <prsht.h>
#include <algorithm>
#include <utility>
#include <vector>

namespace tv::backup {

namespace {

// Everything the pages share for one run of the wizard.
struct WizardState {
    explicit WizardState(BackupJob& forJob) : job(forJob) {}
    BackupJob& job;
    com::ComPtr<IZelvanMgrDisp2> hub;
    com::ComPtr<IZelvanMgr> hubCustom;
    std::vector<std::string> allSetNames;
    std::string proposedName;
    com::ComPtr<BackupProgressSink> sink;
    com::UniqueHandle worker;
    HFONT titleFont = nullptr;
    HFONT stepFont = nullptr;
};

struct PageContext {
    WizardState* state;
    UINT dialogId;
};

constexpr UINT kPages[] = {IDD_BACKUP_WELCOME, IDD_BACKUP_CHOICE, IDD_BACKUP_SETS, IDD_BACKUP_CLASSES,
                           IDD_BACKUP_PROGRESS};

struct ClassBox {
    int control;
    DWORD bit;
};
constexpr ClassBox kClassBoxes[] = {{IDC_BACKUP_APPS, kApplications},
                                    {IDC_BACKUP_MUSIC, kMusic},
                                    {IDC_BACKUP_SYSTEM, kSystemFiles},
                                    {IDC_BACKUP_OTHER, kOtherFiles}};

std::string LowerCase(std::string text) {
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string FileTitle(const std::string& path) {
    const size_t slash = path.rfind('\\');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ControlText(HWND page, int id) {
    char text[520] = {};
    GetDlgItemTextA(page, id, text, sizeof(text));
    return text;
}

void ShowControl(HWND page, int id, bool shown) { ShowWindow(GetDlgItem(page, id), shown ? SW_SHOW : SW_HIDE); }

int ShowMessage(const WizardState& state, HWND owner, const std::string& text, UINT captionId, UINT style) {
    const std::string caption = LoadText(state.job.language, captionId);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

// Asks the page to set the sheet's caption once the page change is over: a wizard sheet puts
// the new page's own title into its caption after the page's activation.
constexpr UINT kSetCaption = WM_APP + 1;

void SetCaption(const WizardState&, HWND page, UINT id) { PostMessageA(page, kSetCaption, id, 0); }

void ApplyCaption(const WizardState& state, HWND page, UINT id) {
    SetWindowTextA(GetParent(page), FormatText(state.job.language, id, state.job.displayName.c_str()).c_str());
}

// Where Next and Back go from each page.
UINT NextPage(const BackupJob& job, UINT page) {
    switch (page) {
    case IDD_BACKUP_WELCOME:
        return !job.modeGiven ? IDD_BACKUP_CHOICE : (job.isBackup ? IDD_BACKUP_CLASSES : IDD_BACKUP_SETS);
    case IDD_BACKUP_CHOICE:
        return job.isBackup ? IDD_BACKUP_CLASSES : IDD_BACKUP_SETS;
    case IDD_BACKUP_CLASSES:
        return job.isBackup ? IDD_BACKUP_SETS : IDD_BACKUP_PROGRESS;
    case IDD_BACKUP_SETS:
        return job.isBackup ? IDD_BACKUP_PROGRESS : IDD_BACKUP_CLASSES;
    default:
        return 0;
    }
}

UINT BackPage(const BackupJob& job, UINT page) {
    const UINT first = job.modeGiven ? IDD_BACKUP_WELCOME : IDD_BACKUP_CHOICE;
    switch (page) {
    case IDD_BACKUP_CHOICE:
        return IDD_BACKUP_WELCOME;
    case IDD_BACKUP_CLASSES:
        return job.isBackup ? first : IDD_BACKUP_SETS;
    case IDD_BACKUP_SETS:
        return job.isBackup ? IDD_BACKUP_CLASSES : first;
    case IDD_BACKUP_PROGRESS:
        return job.isBackup ? IDD_BACKUP_SETS : IDD_BACKUP_CLASSES;
    default:
        return 0;
    }
}

// --- choice page ---

void ShowChoice(WizardState& state, HWND page) {
    CheckRadioButton(page, IDC_BACKUP_CHOOSE_BACKUP, IDC_BACKUP_CHOOSE_RESTORE,
                     state.job.isBackup ? IDC_BACKUP_CHOOSE_BACKUP : IDC_BACKUP_CHOOSE_RESTORE);
    CheckDlgButton(page, IDC_BACKUP_RESTORE_ONLY, (state.job.flags & kRemoveLibraries) ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(page, IDC_BACKUP_RESTORE_ONLY), !state.job.isBackup);
    ShowControl(page, IDC_BACKUP_RESTORE_ONLY, !state.job.isBackup);
    ShowControl(page, IDC_BACKUP_RESTORE_ONLY_NOTE, !state.job.isBackup);
}

void LeaveChoice(WizardState& state, HWND page) {
    BackupJob& job = state.job;
    job.isBackup = IsDlgButtonChecked(page, IDC_BACKUP_CHOOSE_BACKUP) == BST_CHECKED;
    job.setName.clear();
    if (!job.modeGiven)
        job.flags = job.isBackup ? ReadBackupFlags(job.deviceId) : 0;
    if (IsDlgButtonChecked(page, IDC_BACKUP_RESTORE_ONLY) == BST_CHECKED)
        job.flags |= kRemoveLibraries;
    else
        job.flags &= ~static_cast<DWORD>(kRemoveLibraries);
}

// --- sets page ---

void FillSetList(WizardState& state, HWND page) {
    const BackupJob& job = state.job;
    HWND list = GetDlgItem(page, IDC_BACKUP_SET_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    const bool allDevices = IsDlgButtonChecked(page, IDC_BACKUP_ALL_DEVICES) == BST_CHECKED;
    state.allSetNames.clear();
    int listed = 0;
    for (const std::string& path : FindSetFiles(job.backupFolder, job.separator, job.suffix)) {
        const std::string title = FileTitle(path);
        state.allSetNames.push_back(title);
        if (!allDevices && !IsSetFileOfDevice(job.deviceId, path))
            continue;
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(title.c_str()));
        ++listed;
    }
    EnableWindow(list, listed > 0);
    if (listed == 0) {
        const std::string none = LoadText(job.language, allDevices ? IDS_BACKUP_NO_SETS_AT_ALL : IDS_BACKUP_NO_SETS);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(none.c_str()));
    } else if (job.isBackup) {
        const std::string wanted = ControlText(page, IDC_BACKUP_SET_NAME);
        const LRESULT at = SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(wanted.c_str()));
        if (at != LB_ERR)
            SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
    } else {
        SendMessageA(list, LB_SETCURSEL, 0, 0);
    }
    PropSheet_SetWizButtons(GetParent(page),
                            job.isBackup || listed > 0 ? (PSWIZB_BACK | PSWIZB_NEXT) : PSWIZB_BACK);
}

void ShowSets(WizardState& state, HWND page) {
    BackupJob& job = state.job;
    SetDlgItemTextA(page, IDC_BACKUP_FOLDER, job.backupFolder.c_str());
    ShowControl(page, IDC_BACKUP_SET_NAME, job.isBackup);
    ShowControl(page, IDC_BACKUP_SET_NAME_LABEL, job.isBackup);
    if (job.isBackup) {
        if (state.proposedName.empty())
            state.proposedName = MakeBackupSetName(job.language, state.hubCustom.Get(), job.deviceId);
        SetDlgItemTextA(page, IDC_BACKUP_SET_NAME, (job.setName.empty() ? state.proposedName : job.setName).c_str());
    }
    FillSetList(state, page);
}

// Whether the sets page may be left with Next; shows why not.
bool AcceptSetName(WizardState& state, HWND page) {
    BackupJob& job = state.job;
    if (job.isBackup) {
        job.setName = com::TerminatedToAnsi(TrimSetName(com::FromAnsi(ControlText(page, IDC_BACKUP_SET_NAME))).c_str());
    } else {
        HWND list = GetDlgItem(page, IDC_BACKUP_SET_LIST);
        const LRESULT at = SendMessageA(list, LB_GETCURSEL, 0, 0);
        if (at == LB_ERR || !IsWindowEnabled(list))
            return false;
        char name[520] = {};
        if (SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(at), 0) < static_cast<LRESULT>(sizeof(name)))
            SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(name));
        job.setName = name;
    }
    switch (CheckSetName(com::FromAnsi(job.setName), job.backupFolder.size())) {
    case SetNameProblem::kBadCharacter:
        ShowMessage(state, page, LoadText(job.language, IDS_BACKUP_BAD_NAME), IDS_BACKUP_ERROR_CAPTION, MB_ICONSTOP);
        return false;
    case SetNameProblem::kEmpty:
        ShowMessage(state, page, LoadText(job.language, IDS_BACKUP_NAME_EMPTY), IDS_BACKUP_ERROR_CAPTION, MB_ICONSTOP);
        return false;
    case SetNameProblem::kTooLong:
        ShowMessage(state, page, FormatText(job.language, IDS_BACKUP_NAME_TOO_LONG, static_cast<int>(kMaxSetPath)),
                    IDS_BACKUP_ERROR_CAPTION, MB_ICONSTOP);
        return false;
    case SetNameProblem::kNone:
        break;
    }
    if (job.isBackup) {
        HWND list = GetDlgItem(page, IDC_BACKUP_SET_LIST);
        const bool listed = IsWindowEnabled(list) &&
                            SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(job.setName.c_str())) != LB_ERR;
        const bool exists = std::any_of(state.allSetNames.begin(), state.allSetNames.end(), [&](const std::string& n) {
            return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, n.c_str(), -1, job.setName.c_str(), -1) ==
                   CSTR_EQUAL;
        });
        if (listed || exists) {
            const std::string note = listed ? std::string() : LoadText(job.language, IDS_BACKUP_OVERWRITE_FOREIGN);
            if (ShowMessage(state, page, FormatText(job.language, IDS_BACKUP_OVERWRITE, note.c_str()),
                            IDS_BACKUP_OVERWRITE_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
                return false;
        }
    }
    return true;
}

// --- classes page ---

void ShowClasses(WizardState& state, HWND page) {
    BackupJob& job = state.job;
    SetDlgItemTextA(page, IDC_BACKUP_CLASSES_TITLE,
                    LoadText(job.language, job.isBackup ? IDS_BACKUP_CLASSES_FOR_BACKUP : IDS_BACKUP_CLASSES_FOR_RESTORE)
                        .c_str());
    DWORD present = kFileClasses;
    bool known = true;
    if (!job.isBackup) {
        com::ComPtr<ICapArchive> archive;
        com::ComPtr<ICapDirectory> directory;
        const std::string setFile = job.backupFolder + job.separator + job.setName + job.suffix;
        com::UniqueBstr path = com::AnsiToUniqueBstr(setFile);
        if (FAILED(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ICapArchive),
                                    reinterpret_cast<void**>(&archive)))) {
            known = false;
        } else {
            present = 0;
            long count = 0;
            if (SUCCEEDED(archive->Dir(path.Get(), &directory)) && directory &&
                SUCCEEDED(directory->get_Count(&count))) {
                const std::string device = LowerCase(job.deviceId);
                for (long i = 0; i < count; ++i) {
                    long kind = 0;
                    com::UniqueBstr name;
                    if (FAILED(directory->get_Kind(i, &kind)) || kind != 2 ||
                        FAILED(directory->get_Name(i, name.Put())))
                        continue;
                    const std::string entry = com::ToAnsi(name.Get());
                    if (LowerCase(entry) == device)
                        continue;
                    present |= FileClassOf(entry, 0);
                }
            }
            job.flags |= present;
        }
    }
    for (const ClassBox& box : kClassBoxes) {
        if (known)
            EnableWindow(GetDlgItem(page, box.control), (present & box.bit) != 0);
        CheckDlgButton(page, box.control, (job.flags & box.bit) ? BST_CHECKED : BST_UNCHECKED);
    }
    PropSheet_SetWizButtons(GetParent(page), known && present == 0 ? PSWIZB_BACK : (PSWIZB_BACK | PSWIZB_NEXT));
}

void LeaveClasses(WizardState& state, HWND page) {
    for (const ClassBox& box : kClassBoxes) {
        if (IsDlgButtonChecked(page, box.control) == BST_CHECKED)
            state.job.flags |= box.bit;
        else
            state.job.flags &= ~box.bit;
    }
}

// --- progress page ---

void ShowProgress(WizardState& state, HWND page) {
    BackupJob& job = state.job;
    SetCaption(state, page, job.isBackup ? IDS_BACKUP_PROGRESS_BACKUP : IDS_BACKUP_PROGRESS_RESTORE);
    for (int id : {IDC_BACKUP_STEP, IDC_BACKUP_STATUS})
        SetDlgItemTextA(page, id, "");
    Animate_OpenEx(GetDlgItem(page, IDC_BACKUP_ANIMATION), job.language,
                   MAKEINTRESOURCEA(job.isBackup ? IDA_BACKUP_BACKING_UP : IDA_BACKUP_RESTORING));
    job.setFile = job.backupFolder + job.separator + job.setName + job.suffix;
    {
        com::CriticalSectionLock guard(job.cancelLock);
        job.cancelEvent.Reset();
        job.cancelRequested = false;
    }
    com::MakeComObject(state.sink, page, job.language);
    if (!state.sink)
        return;
    com::ComPtr<IZvBackupMgr> manager;
    if (FAILED(CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackupMgr),
                                reinterpret_cast<void**>(&manager)))) {
        state.sink->ShowError(LoadText(job.language, IDS_BACKUP_NO_MANAGER));
        return;
    }
    com::ComPtr<IZvBackuper> backuper;
    com::UniqueBstr device = com::AnsiToUniqueBstr(job.deviceId);
    if (manager->GetCompatibleBackuper(device.Get(), &backuper) != S_OK || !backuper) {
        state.sink->ShowError(LoadText(job.language, IDS_BACKUP_NO_BACKUPER));
        return;
    }
    backuper.Reset();
    if (job.sinkStream) {
        CoReleaseMarshalData(job.sinkStream);
        job.sinkStream->Release();
        job.sinkStream = nullptr;
    }
    if (FAILED(CoMarshalInterThreadInterfaceInStream(__uuidof(IZvBackupProgress), state.sink.Get(),
                                                     &job.sinkStream))) {
        state.sink->ShowError(LoadText(job.language, IDS_BACKUP_NOT_MARSHALLED));
        return;
    }
    state.worker.Reset(CreateThread(nullptr, 0, BackupWorkerThread, &job, 0, nullptr));
    if (!state.worker)
        state.sink->ShowError(LoadText(job.language, IDS_BACKUP_NO_THREAD));
}

bool WorkerRunning(const WizardState& state) {
    return state.worker && WaitForSingleObject(state.worker.Get(), 0) == WAIT_TIMEOUT;
}

void LeaveProgress(WizardState& state, HWND page) {
    Animate_Close(GetDlgItem(page, IDC_BACKUP_ANIMATION));
    if (state.worker) {
        // The page is left only once the worker ended; it never outlives the job. Its last
        // calls into this thread's objects keep being served meanwhile.
        WaitForThreadWithPump(state.worker.Get());
        state.worker.Reset();
    }
    HWND sheet = GetParent(page);
    PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_NEXT | PSWIZB_FINISH);
    EnableWindow(GetDlgItem(sheet, IDCANCEL), TRUE);
}

// --- the pages' dialog procedure ---

void OnSetActive(WizardState& state, HWND page, UINT id) {
    HWND sheet = GetParent(page);
    if (id != IDD_BACKUP_PROGRESS)
        SetCaption(state, page, IDS_BACKUP_WIZARD_CAPTION);
    switch (id) {
    case IDD_BACKUP_WELCOME:
        if (state.hub)
            state.hub->PutBusyUI(static_cast<long>(reinterpret_cast<LONG_PTR>(sheet)), VARIANT_TRUE);
        PropSheet_SetWizButtons(sheet, PSWIZB_NEXT);
        break;
    case IDD_BACKUP_CHOICE:
        ShowChoice(state, page);
        PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_NEXT);
        break;
    case IDD_BACKUP_SETS:
        ShowSets(state, page);
        break;
    case IDD_BACKUP_CLASSES:
        ShowClasses(state, page);
        break;
    case IDD_BACKUP_PROGRESS:
        ShowProgress(state, page);
        break;
    default:
        break;
    }
}

// The page to go to, -1 to stay, 0 for the default.
LONG_PTR OnNext(WizardState& state, HWND page, UINT id) {
    switch (id) {
    case IDD_BACKUP_CHOICE:
        LeaveChoice(state, page);
        break;
    case IDD_BACKUP_SETS:
        if (!AcceptSetName(state, page))
            return -1;
        break;
    case IDD_BACKUP_CLASSES:
        LeaveClasses(state, page);
        if (!(state.job.flags & kFileClasses)) {
            ShowMessage(state, page, LoadText(state.job.language, IDS_BACKUP_NO_CLASS), IDS_BACKUP_ERROR_CAPTION,
                        MB_ICONSTOP);
            return -1;
        }
        break;
    default:
        break;
    }
    return NextPage(state.job, id);
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<PageContext*>(GetWindowLongPtrA(page, DWLP_USER));
    if (message == WM_INITDIALOG) {
        context = reinterpret_cast<PageContext*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
        if (context->dialogId == IDD_BACKUP_WELCOME)
            SendDlgItemMessageA(page, IDC_BACKUP_WELCOME_TITLE, WM_SETFONT,
                                reinterpret_cast<WPARAM>(context->state->titleFont), FALSE);
        if (context->dialogId == IDD_BACKUP_PROGRESS) {
            SendDlgItemMessageA(page, IDC_BACKUP_STEP, WM_SETFONT, reinterpret_cast<WPARAM>(context->state->stepFont),
                                FALSE);
            SendDlgItemMessageA(page, IDC_BACKUP_BAR, PBM_SETBARCOLOR, 0, RGB(57, 93, 237));
        }
        return TRUE;
    }
    if (!context)
        return FALSE;
    WizardState& state = *context->state;
    switch (message) {
    case kSetCaption:
        ApplyCaption(state, page, static_cast<UINT>(wParam));
        return TRUE;
    case WM_COMMAND:
        if (context->dialogId == IDD_BACKUP_CHOICE &&
            (LOWORD(wParam) == IDC_BACKUP_CHOOSE_BACKUP || LOWORD(wParam) == IDC_BACKUP_CHOOSE_RESTORE)) {
            const bool restore = LOWORD(wParam) == IDC_BACKUP_CHOOSE_RESTORE;
            EnableWindow(GetDlgItem(page, IDC_BACKUP_RESTORE_ONLY), restore);
            ShowControl(page, IDC_BACKUP_RESTORE_ONLY, restore);
            ShowControl(page, IDC_BACKUP_RESTORE_ONLY_NOTE, restore);
        } else if (context->dialogId == IDD_BACKUP_SETS && LOWORD(wParam) == IDC_BACKUP_ALL_DEVICES) {
            FillSetList(state, page);
        } else if (context->dialogId == IDD_BACKUP_SETS && LOWORD(wParam) == IDC_BACKUP_SET_LIST &&
                   HIWORD(wParam) == LBN_DBLCLK && state.job.isBackup) {
            HWND list = GetDlgItem(page, IDC_BACKUP_SET_LIST);
            const LRESULT at = SendMessageA(list, LB_GETCURSEL, 0, 0);
            char name[520] = {};
            if (at != LB_ERR &&
                SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(at), 0) < static_cast<LRESULT>(sizeof(name))) {
                SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(name));
                SetDlgItemTextA(page, IDC_BACKUP_SET_NAME, name);
            }
        }
        return FALSE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<NMHDR*>(lParam);
        LONG_PTR answer = 0;
        switch (header->code) {
        case PSN_SETACTIVE:
            OnSetActive(state, page, context->dialogId);
            break;
        case PSN_WIZNEXT:
            answer = OnNext(state, page, context->dialogId);
            break;
        case PSN_WIZBACK:
            if (context->dialogId == IDD_BACKUP_CHOICE)
                LeaveChoice(state, page);
            else if (context->dialogId == IDD_BACKUP_CLASSES)
                LeaveClasses(state, page);
            else if (context->dialogId == IDD_BACKUP_PROGRESS)
                LeaveProgress(state, page);
            answer = BackPage(state.job, context->dialogId);
            break;
        case PSN_WIZFINISH:
            if (context->dialogId == IDD_BACKUP_PROGRESS)
                LeaveProgress(state, page);
            break;
        case PSN_QUERYCANCEL:
            // While the backuper runs, Cancel asks it to stop and keeps the wizard open.
            if (context->dialogId == IDD_BACKUP_PROGRESS && state.sink && !state.sink->Done() &&
                WorkerRunning(state)) {
                RequestCancel(state.job);
                answer = TRUE;
            } else if (context->dialogId == IDD_BACKUP_PROGRESS) {
                LeaveProgress(state, page);
            }
            break;
        default:
            return FALSE;
        }
        SetWindowLongPtrA(page, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// The wizard's pages until the sheet takes them over: pages made before one that cannot be made
// are destroyed again.
class SheetPages {
  public:
    SheetPages() = default;
    SheetPages(const SheetPages&) = delete;
    SheetPages& operator=(const SheetPages&) = delete;
    ~SheetPages() {
        for (HPROPSHEETPAGE page : pages_)
            DestroyPropertySheetPage(page);
    }
    bool Add(const PROPSHEETPAGEA& page) {
        HPROPSHEETPAGE made = CreatePropertySheetPageA(&page);
        if (made)
            pages_.push_back(made);
        return made != nullptr;
    }
    // The pages for the sheet, which destroys them with itself.
    std::vector<HPROPSHEETPAGE> HandOver() { return std::exchange(pages_, {}); }

  private:
    std::vector<HPROPSHEETPAGE> pages_;
};

INT_PTR RunWizardSheet(WizardState& state, HWND owner) {
    BackupJob& job = state.job;
    PageContext contexts[std::size(kPages)];
    SheetPages pages;
    const UINT headers[][2] = {{0, 0},
                               {IDS_BACKUP_CHOICE_TITLE, IDS_BACKUP_CHOICE_SUBTITLE},
                               {IDS_BACKUP_SETS_TITLE, IDS_BACKUP_SETS_SUBTITLE},
                               {IDS_BACKUP_CLASSES_TITLE, IDS_BACKUP_CLASSES_SUBTITLE},
                               {0, 0}};
    for (size_t i = 0; i < std::size(kPages); ++i) {
        contexts[i] = {&state, kPages[i]};
        PROPSHEETPAGEA page = {};
        page.dwSize = sizeof(page);
        page.hInstance = job.language;
        page.pszTemplate = MAKEINTRESOURCEA(kPages[i]);
        page.pfnDlgProc = PageProc;
        page.lParam = reinterpret_cast<LPARAM>(&contexts[i]);
        if (headers[i][0]) {
            page.dwFlags = PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
            page.pszHeaderTitle = MAKEINTRESOURCEA(headers[i][0]);
            page.pszHeaderSubTitle = MAKEINTRESOURCEA(headers[i][1]);
        } else {
            page.dwFlags = PSP_HIDEHEADER;
        }
        if (!pages.Add(page))
            return -1;
    }
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof(sheet);
    sheet.dwFlags = PSH_WIZARD97 | PSH_HEADER | PSH_WATERMARK | PSH_USEHICON;
    sheet.hwndParent = owner;
    sheet.hInstance = job.language;
    sheet.hIcon = static_cast<HICON>(LoadImageA(job.language, MAKEINTRESOURCEA(IDI_BACKUP_WIZARD), IMAGE_ICON, 0, 0,
                                                LR_DEFAULTSIZE));
    sheet.pszbmWatermark = MAKEINTRESOURCEA(IDB_BACKUP_WATERMARK);
    sheet.pszbmHeader = MAKEINTRESOURCEA(IDB_BACKUP_HEADER);
    std::vector<HPROPSHEETPAGE> handed = pages.HandOver();
    sheet.nPages = static_cast<UINT>(handed.size());
    sheet.phpage = handed.data();
    const INT_PTR result = PropertySheetA(&sheet);
    if (sheet.hIcon)
        DestroyIcon(sheet.hIcon);
    return result;
}

} // namespace

void RequestCancel(BackupJob& job) {
    com::CriticalSectionLock guard(job.cancelLock);
    job.cancelRequested = true;
    if (job.cancelEvent)
        SetEvent(job.cancelEvent.Get());
}

DWORD WINAPI BackupWorkerThread(void* raw) {
    auto& job = *static_cast<BackupJob*>(raw);
    com::ComApartment apartment;
    com::ComPtr<IZvBackupProgress> sink;
    if (job.sinkStream) {
        // The stream is released by the unmarshal.
        CoGetInterfaceAndReleaseStream(job.sinkStream, __uuidof(IZvBackupProgress), reinterpret_cast<void**>(&sink));
        job.sinkStream = nullptr;
    }
    com::ComPtr<IZvBackupMgr> manager;
    com::ComPtr<IZvBackuper> backuper;
    com::UniqueBstr device = com::AnsiToUniqueBstr(job.deviceId);
    com::UniqueBstr file = com::AnsiToUniqueBstr(job.setFile);
    HRESULT hr = CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvBackupMgr),
                                  reinterpret_cast<void**>(&manager));
    // The backuper is made on this thread, the one that runs it, so its calls never wait for
    // another apartment.
    if (SUCCEEDED(hr))
        hr = manager->GetCompatibleBackuper(device.Get(), &backuper);
    com::ComPtr<IZvBackupNotify> notify;
    if (hr == S_OK && backuper)
        hr = backuper->QueryInterface(__uuidof(IZvBackupNotify), reinterpret_cast<void**>(&notify));
    else if (SUCCEEDED(hr))
        hr = E_FAIL;
    if (SUCCEEDED(hr) && sink)
        hr = notify->Advise(sink.Get());
    LONG_PTR eventHandle = 0;
    if (SUCCEEDED(hr))
        hr = notify->GetEvent(&eventHandle);
    if (SUCCEEDED(hr)) {
        com::CriticalSectionLock guard(job.cancelLock);
        DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(eventHandle), GetCurrentProcess(),
                        job.cancelEvent.Put(), 0, FALSE, DUPLICATE_SAME_ACCESS);
        if (job.cancelRequested)
            SetEvent(job.cancelEvent.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = backuper->Run(job.isBackup ? 1 : 0, device.Get(), file.Get(), static_cast<long>(job.flags));
        notify->UnAdvise();
    } else if (sink) {
        const std::string text = FormatText(job.language, IDS_BACKUP_FAILED, static_cast<unsigned long>(hr));
        if (com::UniqueBstr bstr = com::AnsiToUniqueBstr(text)) {
            sink->OnError(bstr.Get());
            sink->OnExit();
        }
    }
    job.runResult = hr;
    return SUCCEEDED(hr) ? 0 : 1;
}

DWORD WINAPI BackupWizardThread(void* raw) {
    std::unique_ptr<BackupJob> job(static_cast<BackupJob*>(raw));
    com::ComApartment apartment;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WizardState state(*job);
    if (FAILED(CreateLocalHub(&state.hub)) ||
        FAILED(state.hub->QueryInterface(__uuidof(IZelvanMgr), reinterpret_cast<void**>(&state.hubCustom))))
        return static_cast<DWORD>(E_FAIL);
    BusyGuard busy(state.hub.Get());
    if (FAILED(busy.Result())) {
        // The hub brings a busy window it knows to the front itself; without one the user is told
        // why no wizard comes.
        LONG busyWindow = 0;
        if (FAILED(state.hub->GetBusyUI(&busyWindow)) || busyWindow == 0 || busyWindow == -1)
            MessageBoxA(nullptr, LoadText(job->language, IDS_BACKUP_HUB_BUSY).c_str(),
                        LoadText(job->language, IDS_BACKUP_QUESTION_CAPTION).c_str(),
                        MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
        return static_cast<DWORD>(E_FAIL);
    }
    job->displayName = DisplayName(DeviceNameOf(state.hubCustom.Get(), job->deviceId), job->deviceId);
    job->backupFolder = GetBackupFolder(job->separator);
    state.titleFont = CreateFontA(-MulDiv(10, 96, 72), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Verdana");
    state.stepFont = CreateFontA(-MulDiv(8, 96, 72), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Verdana");
    const INT_PTR result = RunWizardSheet(state, GetActiveWindow());
    if (state.worker)
        WaitForThreadWithPump(state.worker.Get());
    if (job->sinkStream) {
        CoReleaseMarshalData(job->sinkStream);
        job->sinkStream->Release();
        job->sinkStream = nullptr;
    }
    state.sink.Reset();
    DeleteObject(state.titleFont);
    DeleteObject(state.stepFont);
    busy.End();
    return static_cast<DWORD>(result);
}

} // namespace tv::backup
