#include "FileSyncDialogs.h"

#include "DllModule.h"
#include "FileSyncIds.h"
#include "FileSynchronizer.h"
#include "RegistrySyncStore.h"
#include "SyncStateStore.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <utility>
#include <cstdio>

namespace tv::filesync {

using ::filesync::Generation;
using ::filesync::StoreResult;

namespace {

constexpr int kTextLimit = 260;
constexpr size_t kLongestMask = 100;
constexpr UINT kBrowseFlags = 0x55;

std::string ItemText(HWND dialog, int id) {
    char text[kTextLimit + 1] = {};
    GetDlgItemTextA(dialog, id, text, kTextLimit);
    return text;
}

void Warn(HWND owner, UINT textId, UINT icon) {
    const std::string text = LangText(textId);
    const std::string caption = LangText(IDS_FILESYNC_CAPTION);
    MessageBoxA(owner, text.c_str(), caption.c_str(), icon);
}

// The program's icon (11900), large and small, on a dialog's caption.
void SetDialogIcons(HWND dialog) {
    HMODULE language = tv::dll::LanguageLibrary();
    for (const auto& [which, size] : {std::pair<WPARAM, int>{ICON_BIG, 0}, std::pair<WPARAM, int>{ICON_SMALL, 16}}) {
        const HANDLE icon = LoadImageA(language, MAKEINTRESOURCEA(11900), IMAGE_ICON, size, size,
                                       (size == 0 ? LR_DEFAULTSIZE : 0) | LR_SHARED);
        SendMessageA(dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
}

// What both settings dialogs hold: the device, the folder and the masks as loaded.
struct SettingsState {
    Generation generation = Generation::V10;
    std::string deviceId;
    GenerationFolders folders;
    std::string folder;
    std::vector<std::string> loadedMasks; // the built-in mask of 1.5 first
    std::vector<std::string> masks;       // the list as edited
};

// Loads masks and folder; a missing stored state is created as a first session does and read
// once more. With an empty device id the loads fail and the dialog opens empty.
void LoadSettings(SettingsState& state) {
    if (state.deviceId.empty())
        return;
    RegistrySyncStore store(state.deviceId);
    std::vector<std::string> masks;
    if (store.ReadMasks(masks) != StoreResult::Ok) {
        LoadSyncFolderData(state.deviceId, state.folders);
        masks.clear();
        store.ReadMasks(masks);
    }
    if (!state.folders.builtInMask.empty())
        masks.insert(masks.begin(), state.folders.builtInMask);
    state.loadedMasks = masks;
    state.masks = std::move(masks);
    if (store.ReadFolder(state.folder) != StoreResult::Ok) {
        LoadSyncFolderData(state.deviceId, state.folders);
        store.ReadFolder(state.folder);
    }
}

void Browse(HWND dialog, int editId, const SettingsState& state) {
    const std::string title = LangText(IDS_FILESYNC_BROWSE_TITLE);
    char text[512] = {};
    std::snprintf(text, sizeof(text), LangText(IDS_FILESYNC_BROWSE_TEXT).c_str(), state.deviceId.c_str());
    BROWSEINFOA info = {};
    info.hwndOwner = GetActiveWindow();
    info.lpszTitle = text;
    info.ulFlags = kBrowseFlags;
    info.lParam = reinterpret_cast<LPARAM>(title.c_str());
    info.lpfn = [](HWND window, UINT message, LPARAM, LPARAM data) -> int {
        if (message == BFFM_INITIALIZED)
            SetWindowTextA(window, reinterpret_cast<const char*>(data));
        return 0;
    };
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
    if (!chosen)
        return;
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(chosen, path))
        SetDlgItemTextA(dialog, editId, path);
    CoTaskMemFree(chosen);
}

// Writes the edit's folder as "SyncFolder"; an empty edit saves nothing. 0 or the write's error.
LONG SaveFolder(HWND dialog, int editId, const SettingsState& state) {
    const std::string folder = ItemText(dialog, editId);
    if (folder.empty())
        return 0;
    return RegistrySyncStore(state.deviceId).WriteFolder(folder);
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<SettingsState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        state = reinterpret_cast<SettingsState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        BringWindowToTop(dialog);
        LoadSettings(*state);
        SetDlgItemTextA(dialog, IDC_FILESYNC_FOLDER, state->folder.c_str());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FILESYNC_BROWSE:
            Browse(dialog, IDC_FILESYNC_FOLDER, *state);
            return TRUE;
        case IDC_FILESYNC_MASKS:
            SaveFolder(dialog, IDC_FILESYNC_FOLDER, *state);
            EndDialog(dialog, kOpenMaskDialog);
            return TRUE;
        case IDOK:
            EndDialog(dialog, SaveFolder(dialog, IDC_FILESYNC_FOLDER, *state));
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void FillMaskList(HWND dialog, const SettingsState& state) {
    HWND list = GetDlgItem(dialog, IDC_FILESYNC_MASK_LIST);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < state.masks.size(); ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<char*>(state.masks[i].c_str());
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void AddMask(HWND dialog, SettingsState& state) {
    const std::string mask = ItemText(dialog, IDC_FILESYNC_MASK_TEXT);
    if (mask.empty())
        return;
    if (mask.size() > kLongestMask) {
        Warn(dialog, IDS_FILESYNC_MASK_TOO_LONG, MB_ICONWARNING);
        return;
    }
    // The registry keeps masks that differ only in case as one value: another spelling of a listed
    // mask replaces it. The built-in mask is never stored, so it stays as it is.
    for (std::string& listed : state.masks) {
        if (listed == mask)
            return;
        if (listed != state.folders.builtInMask && SameRegistryName(listed, mask)) {
            listed = mask;
            FillMaskList(dialog, state);
            return;
        }
    }
    state.masks.push_back(mask);
    FillMaskList(dialog, state);
}

void RemoveMask(HWND dialog, SettingsState& state) {
    const int selected = static_cast<int>(
        SendDlgItemMessageA(dialog, IDC_FILESYNC_MASK_LIST, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected < 0 || static_cast<size_t>(selected) >= state.masks.size()) {
        Warn(dialog, IDS_FILESYNC_NO_SELECTION, MB_ICONINFORMATION);
        return;
    }
    if (!state.folders.builtInMask.empty() && state.masks[static_cast<size_t>(selected)] == state.folders.builtInMask)
        return;
    state.masks.erase(state.masks.begin() + selected);
    FillMaskList(dialog, state);
}

// The masks as stored: the 1.5 generation's built-in mask is never written nor deleted.
std::vector<std::string> StoredMasks(const std::vector<std::string>& masks, const std::string& builtIn) {
    std::vector<std::string> stored;
    for (const std::string& mask : masks) {
        if (builtIn.empty() || mask != builtIn)
            stored.push_back(mask);
    }
    return stored;
}

INT_PTR SaveMaskDialog(HWND dialog, const SettingsState& state) {
    const LONG folder = SaveFolder(dialog, IDC_FILESYNC_MASK_FOLDER, state);
    if (folder != 0)
        return folder;
    RegistrySyncStore store(state.deviceId);
    const StoreResult result = ::filesync::SaveMasks(store, StoredMasks(state.loadedMasks, state.folders.builtInMask),
                                                     StoredMasks(state.masks, state.folders.builtInMask));
    return result == StoreResult::Ok ? 0 : E_FAIL;
}

INT_PTR CALLBACK MaskProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<SettingsState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<SettingsState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        BringWindowToTop(dialog);
        LoadSettings(*state);
        SetDlgItemTextA(dialog, IDC_FILESYNC_MASK_FOLDER, state->folder.c_str());
        SetDialogIcons(dialog);
        HWND list = GetDlgItem(dialog, IDC_FILESYNC_MASK_LIST);
        RECT area = {};
        GetClientRect(list, &area);
        LVCOLUMNA column = {};
        column.mask = LVCF_WIDTH;
        column.cx = area.right - area.left - GetSystemMetrics(SM_CXVSCROLL);
        SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        FillMaskList(dialog, *state);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FILESYNC_MASK_ADD:
            AddMask(dialog, *state);
            return TRUE;
        case IDC_FILESYNC_MASK_REMOVE:
            RemoveMask(dialog, *state);
            return TRUE;
        case IDC_FILESYNC_MASK_BROWSE:
            Browse(dialog, IDC_FILESYNC_MASK_FOLDER, *state);
            return TRUE;
        case IDC_FILESYNC_MASK_SAVE:
            EndDialog(dialog, SaveMaskDialog(dialog, *state));
            return TRUE;
        case IDC_FILESYNC_MASK_CLOSE:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// The conflict dialog's state while it is open.
struct ConflictState {
    ::filesync::SyncItem* item = nullptr;
    HIMAGELIST images = nullptr;
    bool closed = false;
    bool skipped = false;
};

void FillCopyList(HWND list, HIMAGELIST images, const std::string& name, uint32_t size, uint64_t time) {
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    LVCOLUMNA column = {};
    column.mask = LVCF_WIDTH;
    column.cx = 100;
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    SYSTEMTIME date = {};
    const FILETIME fileTime = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    FileTimeToSystemTime(&fileTime, &date);
    char lines[3][400] = {};
    std::snprintf(lines[0], sizeof(lines[0]), "Name: %s", name.c_str());
    std::snprintf(lines[1], sizeof(lines[1]), "Size: %d", static_cast<int>(size));
    std::snprintf(lines[2], sizeof(lines[2]), "Date: %d/%d/%d %d:%d", date.wDay, date.wMonth, date.wYear, date.wHour,
                  date.wMinute);
    for (int i = 0; i < 3; ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = lines[i];
        item.iImage = 0;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE);
}

INT_PTR CALLBACK ConflictProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ConflictState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<ConflictState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDialogIcons(dialog);
        HMODULE language = tv::dll::LanguageLibrary();
        state->images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
        if (state->images) {
            HICON icon = static_cast<HICON>(
                LoadImageA(language, MAKEINTRESOURCEA(IDI_FILESYNC_CONFLICT_ITEM), IMAGE_ICON, 16, 16, LR_SHARED));
            ImageList_AddIcon(state->images, icon);
        }
        const ::filesync::SyncItem& item = *state->item;
        FillCopyList(GetDlgItem(dialog, IDC_FILESYNC_DEVICE_COPY), state->images, item.deviceName, item.deviceSize,
                     item.deviceTime);
        FillCopyList(GetDlgItem(dialog, IDC_FILESYNC_PC_COPY), state->images, item.pcName, item.pcSize, item.pcTime);
        return TRUE;
    }
    case WM_COMMAND: {
        const int command = LOWORD(wParam);
        if (command == IDC_FILESYNC_PC_WINS) {
            state->item->deviceTime = 0;
            state->item->deviceSize = 0;
        } else if (command == IDC_FILESYNC_DEVICE_WINS) {
            state->item->pcTime = 0;
            state->item->pcSize = 0;
        } else if (command != IDC_FILESYNC_SKIP && command != IDCANCEL) {
            break;
        }
        state->skipped = command == IDC_FILESYNC_SKIP || command == IDCANCEL;
        state->closed = true;
        DestroyWindow(dialog);
        return TRUE;
    }
    case WM_DESTROY:
        // The lists share the image list; it goes with the dialog.
        SendDlgItemMessageA(dialog, IDC_FILESYNC_DEVICE_COPY, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
        SendDlgItemMessageA(dialog, IDC_FILESYNC_PC_COPY, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
        if (state && state->images) {
            ImageList_Destroy(state->images);
            state->images = nullptr;
        }
        if (state && !state->closed) {
            state->closed = true;
            state->skipped = true;
        }
        return FALSE;
    }
    return FALSE;
}

} // namespace

void RunSettingsDialogs(HWND owner, Generation generation, const std::string& deviceId) {
    SettingsState state;
    state.generation = generation;
    state.deviceId = deviceId;
    state.folders = GenerationFoldersOf(generation, LangText);
    HMODULE language = tv::dll::LanguageLibrary();
    const bool v10 = generation == Generation::V10;
    const INT_PTR code = DialogBoxParamA(language, MAKEINTRESOURCEA(v10 ? IDD_FILESYNC_SETTINGS10 : IDD_FILESYNC_SETTINGS15),
                                         owner, SettingsProc, reinterpret_cast<LPARAM>(&state));
    if (code != kOpenMaskDialog)
        return;
    SettingsState masks;
    masks.generation = generation;
    masks.deviceId = deviceId;
    masks.folders = state.folders;
    DialogBoxParamA(language, MAKEINTRESOURCEA(v10 ? IDD_FILESYNC_MASKS10 : IDD_FILESYNC_MASKS15), owner, MaskProc,
                    reinterpret_cast<LPARAM>(&masks));
}

bool RunConflictDialog(HWND owner, ::filesync::SyncItem& item, HWND& window, bool& skipped) {
    ConflictState state;
    state.item = &item;
    HWND dialog = CreateDialogParamA(tv::dll::LanguageLibrary(), MAKEINTRESOURCEA(IDD_FILESYNC_CONFLICT), owner,
                                     ConflictProc, reinterpret_cast<LPARAM>(&state));
    if (!dialog)
        return false;
    window = dialog;
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    MSG message;
    while (!state.closed) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The thread is ending: the dialog goes as a skip, and the quit goes on to the
            // thread's own loop.
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            if (IsWindow(dialog))
                DestroyWindow(dialog);
            break;
        }
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    window = nullptr;
    skipped = state.skipped || !state.closed;
    return true;
}

} // namespace tv::filesync
