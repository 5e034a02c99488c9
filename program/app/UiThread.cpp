#include "UiThread.h"
#include "AnsiText.h"
#include "AppState.h"
#include "ComPtr.h"
#include "DialogLink.h"
#include "HelpTopic.h"
#include "Hub.h"
#include "LangIds.h"
#include "MessagePump.h"
#include "ModuleLock.h"
#include "NamespaceLink.h"
#include "ProgramIds.h"
#include "Registration.h"
#include "RunScript.h"
#include "RunServer.h"
#include "Splash.h"
#include "SubscriptionUpdate.h"
#include "TrayIcon.h"
#include "ZelvanMgr.h"
#include "ZvBackupMgr.h"
#include "ZvRegistrar.h"
#include "ZvSyncMgr.h"
#include <commctrl.h>
#include <atomic>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace tv::app {
namespace {

constexpr UINT kTrayNoDevice = IDS_TRAY_NO_DEVICE;
constexpr UINT kTrayConnected = IDS_TRAY_CONNECTED;
constexpr UINT kTrayBusy = IDS_TRAY_BUSY;
constexpr UINT kTrayLast = IDS_TRAY_STATE_5;

enum Command : UINT {
    kAbout = 0x4000,
    kOpenDevice = 0x4100,
    kUpdateSubscription = 0x4200,
    kCustomizeSubscription = 0x4300,
    kSynchronize = 0x4400,
    kBackUp = 0x4500,
    kProperties = 0x4600,
    kHelp = 0x4700,
    kOptions = 0x4800,
    kRestartWindows = 0x4900,
    kExit = 0x5000,
    kExitWithoutQuestions = 57665,
};
constexpr int kMenuDevices = 8;

std::atomic<HWND> g_mainDialog{nullptr};
// The latest tray state asked for from another thread; 0 when none is waiting. Requests that
// come faster than the shell takes them collapse into the latest one.
std::atomic<UINT> g_requestedState{0};
constexpr UINT kApplyRequestedState = WM_APP + 1;

com::ComPtr<IZelvanMgr> Hub() {
    com::ComPtr<IZelvanMgr> hub;
    App().hub.Unmarshal(&hub);
    return hub;
}

// One entry of the hub's device listing: its name and the string ID the hub keeps.
struct ListedDevice {
    std::string name;
    std::string id;
    long modelVersion = 0;
};

std::vector<ListedDevice> ListDevices(IZelvanMgr* hub, bool* listed = nullptr) {
    std::vector<ListedDevice> devices;
    if (listed)
        *listed = false;
    if (!hub)
        return devices;
    com::ComPtr<IZvEnumFileItems> items;
    char root[] = "";
    if (FAILED(hub->EnumFileItems(root, 1, &items)) || !items)
        return devices;
    if (listed)
        *listed = true;
    for (;;) {
        ZVFILEITEM batch[10] = {};
        LONG fetched = 0;
        if (FAILED(items->Next(10, batch, &fetched)) || fetched <= 0)
            break;
        for (LONG i = 0; i < fetched; ++i) {
            ListedDevice device;
            if (batch[i].strName) {
                device.name = batch[i].strName;
                unsigned char id[260] = {};
                if (SUCCEEDED(hub->GetDeviceIDByName(batch[i].strName, sizeof(id), id)))
                    device.id = reinterpret_cast<char*>(id);
                LONG model = 0, submodel = 0;
                if (SUCCEEDED(hub->GetDeviceVersion(batch[i].strName, &model, &submodel)))
                    device.modelVersion = model;
            }
            CoTaskMemFree(batch[i].strName);
            CoTaskMemFree(batch[i].strDesc);
            CoTaskMemFree(batch[i].strIconFile);
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

// Only a device the hub shows counts as connected. The hub lives in this process; asking it
// through a listing would count as a device operation and itself change the tray state.
bool HubHasDevice(IZelvanMgr* hub) {
    const hub::Hub* object = hub ? hub::CurrentHub() : nullptr;
    return object && object->ShowsDevice();
}

// A helper thread with its own dialog; only one of each kind runs at a time.
class DialogThread {
public:
    DialogThread() = default;
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;
    ~DialogThread() { Wait(); }

    bool Running() const { return thread_ && WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT; }
    bool Start(LPTHREAD_START_ROUTINE proc, void* context) {
        if (Running())
            return false;
        thread_.Reset(CreateThread(nullptr, 0, proc, context, 0, nullptr));
        return static_cast<bool>(thread_);
    }
    void Wait() {
        if (thread_)
            WaitForThreadWithPump(thread_.Get());
        thread_.Reset();
    }

private:
    com::UniqueHandle thread_;
};

// A failed registry or system call told in a box with the system's own text for it.
void ReportSystemError(HWND owner, HRESULT failure) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(failure), 0, reinterpret_cast<LPWSTR>(&text), 0,
                                        nullptr);
    wchar_t number[32];
    swprintf(number, 32, L"0x%08lX", static_cast<unsigned long>(failure));
    const std::unique_ptr<wchar_t, HLOCAL (*)(HLOCAL)> owned(text, &LocalFree);
    MessageBoxW(owner, length ? text : number, LoadText(IDS_PROGRAM_TITLE).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// ---- about ----

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        com::ComPtr<IZvRegistrarDisp2> store;
        if (FAILED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IZvRegistrarDisp2,
                                    reinterpret_cast<void**>(&store))))
            return TRUE;
        long values[3] = {};
        const wchar_t* names[3] = {L"IV1", L"IV2", L"IV3"};
        for (int i = 0; i < 3; ++i) {
            com::UniqueBstr name(SysAllocString(names[i]));
            store->get_GlobalItemDWORD(name.Get(), &values[i]);
        }
        wchar_t format[256] = {}, text[300] = {};
        GetDlgItemTextW(dialog, IDC_ABOUT_VERSION, format, ARRAYSIZE(format));
        wsprintfW(text, format, values[0], values[1], values[2]);
        SetDlgItemTextW(dialog, IDC_ABOUT_VERSION, text);
        ReplaceLabelWithLink(dialog, IDC_ABOUT_LINK, LoadText(IDS_ABOUT_ADDRESS));
        SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        return TRUE;
    }
    case WM_NOTIFY:
        OpenClickedLink(dialog, IDC_ABOUT_LINK, lParam);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

DWORD WINAPI AboutThread(void* owner) {
    com::ComApartment apartment;
    DialogBoxParamW(App().language, MAKEINTRESOURCEW(IDD_ABOUT), static_cast<HWND>(owner), AboutProc, 0);
    return 0;
}

// ---- options ----

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        SendMessageW(dialog, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconW(App().language, MAKEINTRESOURCEW(IDI_PROGRAM))));
        DWORD options = 0, size = sizeof(options);
        RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "TvOptions", RRF_RT_REG_DWORD, nullptr, &options, &size);
        CheckDlgButton(dialog, IDC_OPTIONS_NO_STARTUP, (options & 1) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_OPTIONS_NO_BALLOON, (options & 2) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_OPTIONS_IMPORT, (options & 4) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_OPTIONS_AUTORUN, IsAutorunEnabled() ? BST_CHECKED : BST_UNCHECKED);
        ShowWindow(dialog, SW_SHOWNORMAL);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            DWORD options = 0;
            if (IsDlgButtonChecked(dialog, IDC_OPTIONS_NO_STARTUP) == BST_CHECKED)
                options |= 1;
            if (IsDlgButtonChecked(dialog, IDC_OPTIONS_NO_BALLOON) == BST_CHECKED)
                options |= 2;
            if (IsDlgButtonChecked(dialog, IDC_OPTIONS_IMPORT) == BST_CHECKED)
                options |= 4;
            RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "TvOptions", REG_DWORD, &options, sizeof(options));
            const HRESULT autorun = IsDlgButtonChecked(dialog, IDC_OPTIONS_AUTORUN) == BST_CHECKED
                                        ? EnableAutorun()
                                        : DisableAutorun();
            // The start-up value lives under the machine's key: a user who may not write there is
            // told, and the other options stay saved.
            if (FAILED(autorun))
                ReportSystemError(dialog, autorun);
            DestroyWindow(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}

DWORD WINAPI OptionsThread(void*) {
    com::ComApartment apartment;
    HWND dialog = CreateDialogParamW(App().language, MAKEINTRESOURCEW(IDD_OPTIONS), nullptr, OptionsProc, 0);
    if (!dialog)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

// Posts a close request to every Explorer window that shows the device namespace.
void CloseNamespaceWindows() {
    for (const wchar_t* className : {L"ExploreWClass", L"CabinetWClass"}) {
        for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window;
             window = FindWindowExW(nullptr, window, className, nullptr)) {
            struct Search {
                bool found = false;
            } search;
            EnumChildWindows(
                window,
                [](HWND child, LPARAM context) -> BOOL {
                    char name[64] = {};
                    GetClassNameA(child, name, sizeof(name));
                    if (lstrcmpA(name, kNamespaceViewClass) == 0) {
                        reinterpret_cast<Search*>(context)->found = true;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            if (search.found)
                PostMessageW(window, WM_CLOSE, 0, 0);
        }
    }
}

void ShellVerbOnPidl(PIDLIST_ABSOLUTE list, const wchar_t* verb) {
    if (!list)
        return;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_IDLIST;
    info.lpVerb = verb;
    info.lpIDList = list;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
    CoTaskMemFree(list);
}

// ---- the main dialog ----

class MainDialog {
public:
    HWND Create() {
        return CreateDialogParamW(App().language, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                                  reinterpret_cast<LPARAM>(this));
    }
    HWND Window() const { return window_; }
    void Destroy() {
        if (window_)
            DestroyWindow(window_);
        window_ = nullptr;
        about_.Wait();
        options_.Wait();
        subscriptionUpdate_.Wait();
    }
    void DestroyTray() { tray_.Destroy(); }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            auto* self = reinterpret_cast<MainDialog*>(lParam);
            self->window_ = dialog;
            self->Initialise();
            return TRUE;
        }
        auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (!self)
            return FALSE;
        if (message == WM_COMMAND) {
            // A command from the keyboard (an accelerator) for a disabled id is swallowed.
            if (HIWORD(wParam) == 1 && self->CommandFlags(LOWORD(wParam)) == MF_GRAYED)
                return TRUE;
            self->OnCommand(LOWORD(wParam));
            return TRUE;
        }
        if (message == kApplyRequestedState) {
            if (UINT state = g_requestedState.exchange(0))
                self->SetTrayState(state);
            return TRUE;
        }
        if (message == kTrayCallbackMessage) {
            if (lParam == WM_RBUTTONUP)
                self->ShowTrayMenu();
            else if (lParam == WM_LBUTTONDBLCLK)
                ShellVerbOnPidl(FindMyZelvanPidl(), L"explore");
            return TRUE;
        }
        return FALSE;
    }

    void Initialise() {
        SendMessageW(window_, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconW(App().language, MAKEINTRESOURCEW(IDI_PROGRAM_MAIN))));
        if (!tray_.Create(window_, IDB_TRAY_STRIP, 16, RGB(0, 0x80, 0x80), 10))
            return;
        tray_.Show();
        SetTrayState(kTrayNoDevice);
        if (HubHasDevice(Hub().Get()))
            SetTrayState(kTrayConnected);
    }

    void SetTrayState(UINT state) {
        // The shell requests below dispatch messages while they wait: a state asked for
        // meanwhile is applied after this one, never inside it.
        if (settingState_) {
            pendingState_ = state;
            return;
        }
        settingState_ = true;
        ApplyTrayState(state);
        while (UINT next = std::exchange(pendingState_, 0))
            ApplyTrayState(next);
        settingState_ = false;
    }

    void ApplyTrayState(UINT state) {
        com::ComPtr<IZelvanMgr> hub = Hub();
        if (!HubHasDevice(hub.Get()))
            state = kTrayNoDevice;
        tray_.Show();
        state_ = state;
        if (tray_.Ready()) {
            tray_.StopAnimation();
            if (state == kTrayBusy)
                tray_.Animate(5, 12);
            else if (state != kTrayNoDevice)
                tray_.SetImage(static_cast<int>(state - kTrayNoDevice));
            else
                tray_.SetImage(0);
        }
        tray_.SetTip(LoadText(state));
        UpdateCommandStates(hub.Get());
    }

    void UpdateCommandStates(IZelvanMgr* hub) {
        LONG busy = 0;
        if (hub)
            hub->get_BusyUI(&busy);
        for (UINT id = kTrayNoDevice; id <= kTrayLast; ++id)
            checked_[id] = id == state_;
        const bool connected = state_ >= kTrayConnected && state_ <= kTrayLast;
        for (UINT i = 0; i < kMenuDevices; ++i) {
            for (UINT group : {kUpdateSubscription, kSynchronize, kBackUp, kProperties})
                enabled_[group + i] = busy != 1 && state_ == kTrayConnected;
            if (busy != 1)
                enabled_[kOpenDevice + i] = connected;
        }
    }

    UINT CommandFlags(UINT id) const {
        auto found = enabled_.find(id);
        return found == enabled_.end() || found->second ? MF_ENABLED : MF_GRAYED;
    }

    void ShowTrayMenu() {
        com::ComPtr<IZelvanMgr> hub = Hub();
        bool listed = false;
        std::vector<ListedDevice> devices = ListDevices(hub.Get(), &listed);
        if (!listed)
            return;
        UpdateCommandStates(hub.Get());
        HMENU menu = CreatePopupMenu();
        bool anyDevice = false;
        for (size_t i = 0; i < devices.size() && i < 0x100; ++i) {
            if (devices[i].id.empty())
                continue;
            const UINT index = static_cast<UINT>(i);
            HMENU sub = CreatePopupMenu();
            auto add = [&](UINT group) {
                AppendMenuW(sub, MF_STRING | CommandFlags(group + index), group + index, LoadText(group).c_str());
            };
            add(kOpenDevice);
            AppendMenuW(sub, MF_SEPARATOR, 0, nullptr);
            if (devices[i].modelVersion > 20)
                add(kUpdateSubscription);
            add(kCustomizeSubscription);
            add(kSynchronize);
            add(kBackUp);
            AppendMenuW(sub, MF_SEPARATOR, 0, nullptr);
            add(kProperties);
            const std::wstring title(devices[i].name.begin(), devices[i].name.end());
            AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), title.c_str());
            anyDevice = true;
        }
        if (anyDevice)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kHelp, LoadText(IDS_MENU_HELP).c_str());
        AppendMenuW(menu, MF_STRING, kAbout, LoadText(IDS_MENU_ABOUT).c_str());
        AppendMenuW(menu, MF_STRING, kOptions, LoadText(IDS_MENU_OPTIONS).c_str());
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kRestartWindows, LoadText(IDS_MENU_RESTART).c_str());
        AppendMenuW(menu, MF_STRING, kExit, LoadText(IDS_MENU_EXIT).c_str());
        POINT cursor;
        GetCursorPos(&cursor);
        SetForegroundWindow(window_);
        TrackPopupMenu(menu, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
        PostMessageW(window_, WM_NULL, 0, 0);
        DestroyMenu(menu);
    }

    // The device at position `index` of the hub's listing, looked up now.
    std::optional<ListedDevice> DeviceAt(IZelvanMgr* hub, UINT index) const {
        std::vector<ListedDevice> devices = ListDevices(hub);
        if (index >= devices.size() || devices[index].id.empty())
            return std::nullopt;
        return devices[index];
    }

    void OnCommand(UINT id) {
        if (id >= kTrayNoDevice && id <= kTrayLast) {
            SetTrayState(id);
            return;
        }
        const UINT group = id & 0xff00;
        if (group >= kOpenDevice && group <= kProperties && id < 0x4700) {
            OnDeviceCommand(group, id & 0xff);
            return;
        }
        switch (id) {
        case IDOK:
        case IDCANCEL:
            ShowWindow(window_, SW_HIDE);
            break;
        case kAbout:
            if (about_.Start(AboutThread, window_))
                about_.Wait();
            break;
        case kOptions:
            if (options_.Start(OptionsThread, nullptr))
                options_.Wait();
            break;
        case kHelp:
            ShowHelp();
            break;
        case kRestartWindows:
            ShutDownWindows();
            break;
        case kExit:
            ExitProgram();
            break;
        case kExitWithoutQuestions:
            tray_.Hide();
            PostQuitMessage(0);
            break;
        default:
            break;
        }
    }

    void OnDeviceCommand(UINT group, UINT index) {
        com::ComPtr<IZelvanMgr> hub = Hub();
        std::optional<ListedDevice> device = DeviceAt(hub.Get(), index);
        if (!device)
            return;
        switch (group) {
        case kOpenDevice:
            ShellVerbOnPidl(FindDeviceFolderPidl(static_cast<int>(index)), L"open");
            break;
        case kSynchronize: {
            com::ComPtr<IZvSyncMgr> sync;
            if (SUCCEEDED(App().syncManager.Unmarshal(&sync)))
                sync->Synchronize(device->id.data());
            break;
        }
        case kBackUp: {
            com::ComPtr<IZvBackupMgr> backup;
            const std::wstring id(device->id.begin(), device->id.end());
            com::UniqueBstr text(SysAllocString(id.c_str()));
            if (SUCCEEDED(App().backupManager.Unmarshal(&backup)))
                backup->Run(text.Get());
            break;
        }
        case kProperties:
            if (hub)
                hub->DisplayProperties(device->id.data(), nullptr);
            break;
        case kUpdateSubscription: {
            // One update at a time; the tray keeps working while it runs.
            auto request = std::make_unique<subscription::UpdateRequest>(
                subscription::UpdateRequest{com::FromAnsi(device->id), App().language});
            if (subscriptionUpdate_.Start(subscription::SubscriptionUpdateThread, request.get())) {
                request.release();
                subscriptionUpdate_.Wait();
            }
            break;
        }
        case kCustomizeSubscription:
            subscription::CustomizeSubscription(com::FromAnsi(device->id));
            break;
        default:
            break;
        }
    }

    void ShowHelp() {
        if (HWND help = FindWindowW(L"HH Parent", L"Tavrilon Help")) {
            SetForegroundWindow(help);
            return;
        }
        const std::string root = HelpRoot();
        if (root.empty())
            return;
        ShowHelpTopic(window_, (root + "::/about_tavrilon.htm>default").c_str());
    }

    void ExitProgram() {
        if (exitQuestionOpen_)
            return;
        exitQuestionOpen_ = true;
        if (state_ == kTrayNoDevice || state_ == kTrayConnected) {
            com::ComPtr<IZelvanMgr> hub = Hub();
            LONG busy = 0;
            if (hub)
                hub->get_BusyUI(&busy);
            // A subscription update's thread goes on after it has given the hub back (while its
            // script or its report runs), so it counts as an open window too.
            if (!hub || busy == 1 || about_.Running() || options_.Running() ||
                subscriptionUpdate_.Running()) {
                MessageBoxW(GetDesktopWindow(), LoadText(IDS_EXIT_DIALOG_OPEN).c_str(),
                            LoadText(IDS_EXIT_CAPTION).c_str(), MB_OK | MB_ICONEXCLAMATION | MB_TOPMOST);
            } else {
                CloseNamespaceWindows();
                tray_.Hide();
                PostQuitMessage(0);
            }
        } else {
            MessageBoxW(GetDesktopWindow(), LoadText(IDS_EXIT_BUSY).c_str(), LoadText(IDS_EXIT_CAPTION).c_str(),
                        MB_OK | MB_ICONEXCLAMATION);
        }
        exitQuestionOpen_ = false;
    }

    void ShutDownWindows() {
        if (restartQuestionOpen_)
            return;
        restartQuestionOpen_ = true;
        if (MessageBoxW(window_, LoadText(IDS_RESTART_QUESTION).c_str(), LoadText(IDS_RESTART_CAPTION).c_str(),
                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
            restartQuestionOpen_ = false;
            return;
        }
        DisableAutorun();
        CloseNamespaceWindows();
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return;
        com::UniqueHandle tokenOwner(token);
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) ||
            GetLastError() != ERROR_SUCCESS)
            return;
        ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_FLAG_PLANNED);
    }

    HWND window_ = nullptr;
    bool settingState_ = false;
    UINT pendingState_ = 0;
    TrayIcon tray_;
    UINT state_ = kTrayNoDevice;
    std::map<UINT, bool> enabled_;
    std::map<UINT, bool> checked_;
    DialogThread about_;
    DialogThread options_;
    DialogThread subscriptionUpdate_;
    bool exitQuestionOpen_ = false;
    bool restartQuestionOpen_ = false;
};

} // namespace

void RequestTrayState(UINT state) {
    HWND dialog = g_mainDialog.load();
    if (!dialog)
        return;
    if (g_requestedState.exchange(state) == 0)
        PostMessageW(dialog, kApplyRequestedState, 0, 0);
}

bool UiThread::Start() {
    thread_.Reset(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

void UiThread::Join() {
    if (thread_)
        WaitForThreadWithPump(thread_.Get());
    thread_.Reset();
}

DWORD WINAPI UiThread::ThreadProc(void* self) { return static_cast<UiThread*>(self)->Run(); }

DWORD UiThread::Run() {
    com::ComApartment apartment;
    struct ModuleHold {
        ModuleHold() { com::ModuleLock::Lock(); }
        ~ModuleHold() { com::ModuleLock::Unlock(); }
    } hold;
    {
        com::ComPtr<IZelvanMgr> hub = Hub();
        if (!hub)
            return 1;
        if (FAILED(hub->InitDeviceFactories()))
            return 2;
        com::ComPtr<IZelvanMgrDisp2> face;
        VARIANT_BOOL prohibited = VARIANT_FALSE;
        if (SUCCEEDED(hub->QueryInterface(__uuidof(IZelvanMgrDisp2), reinterpret_cast<void**>(&face))))
            face->get_ScriptsProhibited(&prohibited);
        if (!prohibited) {
            VARIANT second, result;
            VariantInit(&second);
            second.vt = VT_I4;
            second.lVal = 2;
            RunEventScript(L"Autostart", L"OnStart", &second, &result);
            const bool stop = IsBooleanFalse(result);
            VariantClear(&result);
            if (stop) {
                EndSplash();
                return 0;
            }
        }
        EndSplash();
        if (fileOpen_) {
            ForwardFileOpen(*fileOpen_, hub.Get());
            if (face)
                face->put_ScriptsProhibited(VARIANT_FALSE);
        }
    }

    MainDialog main;
    HWND window = main.Create();
    if (!window)
        return 0;
    g_mainDialog = window;
    StartupDialog startup;
    startup.Start();
    ShowWindow(window, SW_HIDE);
    SetEvent(App().uiReady.Get());

    MSG message;
    int quitCode = 0;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            quitCode = static_cast<int>(message.wParam);
            break;
        }
        if (got < 0)
            break;
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    g_mainDialog = nullptr;
    main.Destroy();
    startup.Wait();
    main.DestroyTray();
    return static_cast<DWORD>(quitCode);
}

} // namespace tv::app
