#include "PimDialogs.h"

#include "AnsiText.h"
#include "ComPtr.h"
#include "DesktopMailApp.h"
#include "DialogChoice.h"
#include "DeviceId.h"
#include "DllModule.h"
#include "Handles.h"
#include "LanguageLibrary.h"
#include "PimSyncIds.h"
#include "PimSynchronizer.h"

#include <vector>

namespace tv::pimsync {

using ::pimsync::ZvContactRecord;
using ::pimsync::ZvSyncRecord;
using ::pimsync::ZvTaskRecord;

namespace {

// Posted to a conflict dialog to end it; wParam is the choice.
constexpr UINT kEndWithChoice = WM_APP + 1;

struct FieldPair {
    int deviceControl;
    int pcControl;
    std::string device;
    std::string pc;
};

std::vector<FieldPair> ContactPairs(const ZvContactRecord& d, const ZvContactRecord& p) {
    return {
        {IDC_PIMSYNC_CONTACT_TITLE_DEVICE, IDC_PIMSYNC_CONTACT_TITLE_PC, d.s1, p.s1},
        {IDC_PIMSYNC_CONTACT_ID_DEVICE, IDC_PIMSYNC_CONTACT_ID_PC, ::pimsync::EncodeDeviceId(d.idNumber),
         ::pimsync::EncodeDeviceId(p.idNumber)},
        {IDC_PIMSYNC_CONTACT_LAST_DEVICE, IDC_PIMSYNC_CONTACT_LAST_PC, d.s3, p.s3},
        {IDC_PIMSYNC_CONTACT_FIRST_DEVICE, IDC_PIMSYNC_CONTACT_FIRST_PC, d.s4, p.s4},
        {IDC_PIMSYNC_CONTACT_PHONE_DEVICE, IDC_PIMSYNC_CONTACT_PHONE_PC, d.s5, p.s5},
        {IDC_PIMSYNC_CONTACT_STREET_DEVICE, IDC_PIMSYNC_CONTACT_STREET_PC, d.s6, p.s6},
        {IDC_PIMSYNC_CONTACT_CITY_DEVICE, IDC_PIMSYNC_CONTACT_CITY_PC, d.s7, p.s7},
        {IDC_PIMSYNC_CONTACT_ICQ_DEVICE, IDC_PIMSYNC_CONTACT_ICQ_PC, d.icq, p.icq},
        {IDC_PIMSYNC_CONTACT_EMAIL_DEVICE, IDC_PIMSYNC_CONTACT_EMAIL_PC, d.s8, p.s8},
    };
}

std::vector<FieldPair> TaskPairs(const ZvTaskRecord& d, const ZvTaskRecord& p) {
    return {
        {IDC_PIMSYNC_TASK_DATE_DEVICE, IDC_PIMSYNC_TASK_DATE_PC, TaskDateText(d.date), TaskDateText(p.date)},
        {IDC_PIMSYNC_TASK_TEXT_DEVICE, IDC_PIMSYNC_TASK_TEXT_PC, d.text, p.text},
        {IDC_PIMSYNC_TASK_PRIORITY_DEVICE, IDC_PIMSYNC_TASK_PRIORITY_PC, PriorityText(d.priority),
         PriorityText(p.priority)},
        {IDC_PIMSYNC_TASK_REMINDER_DEVICE, IDC_PIMSYNC_TASK_REMINDER_PC, ReminderText(d.reminder),
         ReminderText(p.reminder)},
    };
}

// Button id to choice, per kind.
int ChoiceOf(int button) {
    switch (button) {
    case IDC_PIMSYNC_CONTACT_TAKE_PC:
    case IDC_PIMSYNC_TASK_TAKE_PC:
        return ::pimsync::kTakePcVersion;
    case IDC_PIMSYNC_CONTACT_TAKE_DEVICE:
    case IDC_PIMSYNC_TASK_TAKE_DEVICE:
        return ::pimsync::kTakeDeviceVersion;
    case IDC_PIMSYNC_CONTACT_SKIP:
    case IDC_PIMSYNC_TASK_SKIP:
        return ::pimsync::kSkipPair;
    case IDCANCEL:
        return ::pimsync::kEndResolve;
    default:
        return 0;
    }
}

INT_PTR CALLBACK ConflictProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    auto* answer = reinterpret_cast<DialogChoice*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!answer)
        return FALSE;
    switch (message) {
    case WM_COMMAND: {
        const int choice = ChoiceOf(LOWORD(wParam));
        if (choice != 0 && HIWORD(wParam) == BN_CLICKED)
            answer->End(choice);
        return TRUE;
    }
    case WM_CLOSE:
        answer->End(::pimsync::kEndResolve);
        return TRUE;
    case kEndWithChoice:
        answer->End(static_cast<int>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

// A bold copy of a dialog's font, deleted with the object.
class BoldFont {
  public:
    explicit BoldFont(HWND dialog) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        LOGFONTA description = {};
        if (!font || GetObjectA(font, sizeof(description), &description) == 0)
            GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(description), &description);
        description.lfWeight = FW_BOLD;
        font_ = CreateFontIndirectA(&description);
    }
    ~BoldFont() {
        if (font_)
            DeleteObject(font_);
    }
    BoldFont(const BoldFont&) = delete;
    BoldFont& operator=(const BoldFont&) = delete;
    HFONT Get() const { return font_; }

  private:
    HFONT font_ = nullptr;
};

struct OptionsState {
    IZelvanMgr* hub;
    std::string deviceId;
    std::string valueName;
    std::string stored;
    std::vector<std::string> entries;
};

std::vector<std::string> TopFolders(IZelvanMgr* hub, const std::string& deviceId, bool& listed) {
    std::vector<std::string> names;
    com::ComPtr<IZvEnumFileItems> items;
    std::string path = deviceId;
    listed = SUCCEEDED(hub->EnumFileItems(path.data(), 2, &items)) && items;
    if (!listed)
        return names;
    while (names.size() < 2) {
        ZVFILEITEM item = {};
        long fetched = 0;
        if (FAILED(items->Next(1, &item, &fetched)) || fetched == 0)
            break;
        names.emplace_back(item.strName ? item.strName : "");
        CoTaskMemFree(item.strName);
        CoTaskMemFree(item.strDesc);
        CoTaskMemFree(item.strIconFile);
    }
    return names;
}

bool StoreFolder(const OptionsState& state, const std::string& folder) {
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DeviceKeyPath(state.deviceId).c_str(), 0, KEY_SET_VALUE, key.Put()) !=
        ERROR_SUCCESS)
        return false;
    const std::string value = folder + ";";
    return RegSetValueExA(key.Get(), state.valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    constexpr int kButtons[2] = {IDC_PIMSYNC_FOLDER1, IDC_PIMSYNC_FOLDER2};
    auto* state = reinterpret_cast<OptionsState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<OptionsState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemTextA(dialog, IDC_PIMSYNC_OPTIONS_TEXT, LangText(IDS_PIMSYNC_OPTIONS_TEXT).c_str());
        bool listed = false;
        state->entries = TopFolders(state->hub, state->deviceId, listed);
        if (!listed)
            return TRUE;
        int checked = kButtons[0];
        for (int i = 0; i < 2; ++i) {
            if (i < static_cast<int>(state->entries.size())) {
                SetDlgItemTextA(dialog, kButtons[i], state->entries[i].c_str());
                if (state->entries[i] == state->stored)
                    checked = kButtons[i];
            } else {
                EnableWindow(GetDlgItem(dialog, kButtons[i]), FALSE);
            }
        }
        CheckRadioButton(dialog, kButtons[0], kButtons[1], checked);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && state) {
            for (int i = 0; i < static_cast<int>(state->entries.size()) && i < 2; ++i) {
                if (IsDlgButtonChecked(dialog, kButtons[i]) == BST_CHECKED && !StoreFolder(*state, state->entries[i]))
                    return TRUE; // stays open: nothing was stored
            }
            EndDialog(dialog, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::string LangText(UINT id) {
    HMODULE language = dll::LanguageLibrary();
    return language ? LoadLanguageString(language, id) : std::string();
}

std::string ClsidText(const CLSID& clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return com::TerminatedToAnsi(text);
}

std::string DeviceKeyPath(const std::string& deviceId) {
    return "Software\\Zelvan\\Tavrilon\\DeviceList\\" + deviceId;
}

std::string TaskDateText(const ::pimsync::DeviceDate& date) {
    DATE value = 0;
    if (!DeviceDateToAutomation(date, value))
        value = 0;
    com::UniqueBstr text;
    if (FAILED(VarBstrFromDate(value, LOCALE_USER_DEFAULT, VAR_FOURDIGITYEARS | LOCALE_NOUSEROVERRIDE, text.Put())))
        return {};
    return com::ToAnsi(text.Get());
}

const char* PriorityText(uint8_t priority) {
    static const char* const kNames[] = {"Low", "Normal", "High"};
    return priority < 3 ? kNames[priority] : "";
}

const char* ReminderText(uint8_t reminder) {
    static const char* const kNames[] = {"Off", "On", "5 minutes", "1 hour", "1 day"};
    return reminder < 5 ? kNames[reminder] : "";
}

int RunConflictDialog(const SyncKind& kind, HWND parent, HWND& slot, const ZvSyncRecord& device, const ZvSyncRecord& pc) {
    DialogChoice answer;
    HWND dialog = CreateDialogParamA(dll::LanguageLibrary(), MAKEINTRESOURCEA(kind.conflictDialog), parent,
                                     ConflictProc, reinterpret_cast<LPARAM>(&answer));
    if (!dialog)
        return ::pimsync::kEndResolve;
    const std::vector<FieldPair> pairs =
        kind.conflictDialog == IDD_PIMSYNC_CONTACT_CONFLICT
            ? ContactPairs(static_cast<const ZvContactRecord&>(device), static_cast<const ZvContactRecord&>(pc))
            : TaskPairs(static_cast<const ZvTaskRecord&>(device), static_cast<const ZvTaskRecord&>(pc));
    BoldFont bold(dialog);
    for (const FieldPair& pair : pairs) {
        SetDlgItemTextA(dialog, pair.deviceControl, pair.device.c_str());
        SetDlgItemTextA(dialog, pair.pcControl, pair.pc.c_str());
        if (pair.device != pair.pc && bold.Get()) {
            SendDlgItemMessageA(dialog, pair.deviceControl, WM_SETFONT, reinterpret_cast<WPARAM>(bold.Get()), TRUE);
            SendDlgItemMessageA(dialog, pair.pcControl, WM_SETFONT, reinterpret_cast<WPARAM>(bold.Get()), TRUE);
        }
    }
    slot = dialog;
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    // A quit meant for the thread leaves the pair as it is and goes on to the thread's own loop.
    const int choice = answer.Run(dialog, ::pimsync::kSkipPair);
    slot = nullptr;
    DestroyWindow(dialog);
    return choice >= ::pimsync::kTakePcVersion && choice <= ::pimsync::kEndResolve ? choice : ::pimsync::kSkipPair;
}

void EndConflictDialog(HWND dialog, int choice) {
    if (dialog)
        PostMessageA(dialog, kEndWithChoice, static_cast<WPARAM>(choice), 0);
}

void RunOptionsDialog(HWND parent, IZelvanMgr* hub, const std::string& deviceId, const CLSID& clsid,
                      const std::string& storedFolder) {
    OptionsState state{hub, deviceId, ClsidText(clsid), storedFolder, {}};
    DialogBoxParamA(dll::LanguageLibrary(), MAKEINTRESOURCEA(IDD_PIMSYNC_OPTIONS), parent, OptionsProc,
                    reinterpret_cast<LPARAM>(&state));
}

} // namespace tv::pimsync
