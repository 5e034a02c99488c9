#include "OsImageLoader.h"

#include "AnsiText.h"
#include "DllModule.h"
#include "Handles.h"
#include "UpdateIds.h"
#include "UpdateRules.h"
#include "UsbDevices.h"

#include <dbt.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

namespace tv::update {
namespace {

constexpr UINT_PTR kFinishTimer = 1;
constexpr UINT_PTR kStartTimer = 2;
constexpr UINT_PTR kSendTimer = 3;
constexpr UINT kSendPeriodMs = 20;
constexpr UINT kStartDelayMs = 1000;
constexpr const char* kComponentVersion = "1.23";

// {B66756D6-C253-43B1-A065-80913EC5AC72}: the booted device's interface class.
constexpr GUID kBootedInterfaceClass = {
    0xb66756d6, 0xc253, 0x43b1, {0xa0, 0x65, 0x80, 0x91, 0x3e, 0xc5, 0xac, 0x72}};

std::string LoadLangString(UINT id) {
    wchar_t text[512] = {};
    LoadStringW(dll::LanguageLibrary(), id, text, 512);
    return com::TerminatedToAnsi(text);
}

enum class DeviceKind { Loader, Booted };

// The loader window's state: one per load, on the worker thread's stack.
class LoaderWindow {
  public:
    LoaderWindow(LoaderShared& shared, const LoaderSettings& settings, OsImage image)
        : shared_(shared), image_(std::move(image)), deviceNumber_(settings.usbDeviceId),
          finishInterval_(settings.finishInterval), imageFile_(com::TerminatedToAnsi(settings.imageFile.c_str())),
          zvId_(settings.zvId) {}

    HWND Create() {
        return CreateDialogParamW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDD_UPDATE_LOADER), nullptr, DialogProc,
                                  reinterpret_cast<LPARAM>(this));
    }
    long Status() const { return status_; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void AddUsbSupport();
    void Log(const char* format, ...);
    void SendZvOsImage();
    void OnStartTimer();
    void OnFinishTimer();
    void OnDeviceChange(WPARAM event, LPARAM data);
    void OnDeviceArrival(DeviceKind kind);
    void OnDeviceRemoveComplete(DeviceKind kind);
    void Close(int command);
    void Layout();
    void KeepMinimumSize(WPARAM edge, RECT* rect);
    bool NameContains(UINT stringId) const;

    LoaderShared& shared_;
    OsImage image_;
    long deviceNumber_;
    long finishInterval_;
    std::string imageFile_;
    std::wstring zvId_; // kept with the load, not used further
    HWND window_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
    long status_ = 0;
    std::string deviceName_;
    bool sent_ = false;
    UINT_PTR finishTimer_ = 0;
    UINT_PTR startTimer_ = 0;
    UINT_PTR sendTimer_ = 0;
};

INT_PTR CALLBACK LoaderWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<LoaderWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->AddUsbSupport();
        return TRUE;
    }
    auto* self = reinterpret_cast<LoaderWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR LoaderWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kSendTimer)
            SendZvOsImage();
        else if (wParam == kStartTimer)
            OnStartTimer();
        else if (wParam == kFinishTimer)
            OnFinishTimer();
        return TRUE;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            Close(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case kShowLoaderMessage:
        ShowWindow(window_, wParam ? SW_SHOW : SW_HIDE);
        return TRUE;
    case WM_SIZE:
        Layout();
        return TRUE;
    case WM_SIZING:
        KeepMinimumSize(wParam, reinterpret_cast<RECT*>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

// Log texts go to the log box with "\r\n" line ends; nothing is written to a file.
void LoaderWindow::Log(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string lines;
    for (const char* c = text; *c; ++c) {
        if (c[0] == '\r' && c[1] == '\n')
            continue; // "\r\n" becomes "\n" first
        if (*c == '\n')
            lines += '\r';
        lines += *c;
    }
    HWND box = GetDlgItem(window_, IDC_LOADER_LOG);
    const std::wstring wide = com::FromAnsi(lines);
    const LRESULT end = GetWindowTextLengthW(box);
    SendMessageW(box, EM_SETSEL, end, end);
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void LoaderWindow::AddUsbSupport() {
    HICON icon = LoadIconW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDI_UPDATE));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SetWindowTextW(window_, com::FromAnsi(" " + LoadLangString(IDS_UPDATE_TITLE)).c_str());

    const int width = GetSystemMetrics(SM_CXSCREEN) * 5 / 6;
    const int height = GetSystemMetrics(SM_CYSCREEN) * 5 / 6;
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    SetWindowPos(window_, nullptr, desktop.left + (desktop.right - desktop.left - width) / 2,
                 desktop.top + (desktop.bottom - desktop.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    Log("Component version %s\nm_strZvOSFileName %s\nm_nUSBDeviceID %u\nm_strUSBDeviceName %s\n"
        "m_FinishTimerInterval %u\n",
        kComponentVersion, imageFile_.c_str(), static_cast<unsigned>(deviceNumber_), deviceName_.c_str(),
        static_cast<unsigned>(finishInterval_));

    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kBootedInterfaceClass;
    notification_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    Log("AddUSBSupport(): %d\n", notification_ ? 0 : static_cast<int>(GetLastError()));

    sendTimer_ = SetTimer(window_, kSendTimer, kSendPeriodMs, nullptr);
    startTimer_ = sendTimer_ ? SetTimer(window_, kStartTimer, kStartDelayMs, nullptr) : 0;
    if (startTimer_ && finishInterval_ != 0)
        finishTimer_ = SetTimer(window_, kFinishTimer, static_cast<UINT>(finishInterval_), nullptr);
    if (!sendTimer_ || !startTimer_ || (finishInterval_ != 0 && !finishTimer_)) {
        // The load ends with the failure; a timer that failed without a code is still one.
        const DWORD error = GetLastError();
        status_ = error != ERROR_SUCCESS ? static_cast<long>(error) : kStatusNoTimer;
        PostMessageW(window_, WM_COMMAND, IDOK, 0);
    }
}

void LoaderWindow::SendZvOsImage() {
    if (sent_)
        return;
    const int count = devlink15::ScanHostControllers().total;
    com::UniqueFileHandle device;
    for (int number = 0; number < count; ++number) {
        device.Reset(devlink15::OpenUsbDevicePipe(devlink15::UsbInterfaceClass::Loader, "", number, false));
        if (device) {
            deviceNumber_ = number;
            Log("m_nUSBDeviceID: %d, devices: %d\n", number, count);
            KillTimer(window_, kSendTimer);
            sendTimer_ = 0;
            break;
        }
    }
    if (!device)
        return; // the next tick tries again

    SetEvent(shared_.deviceEvent);
    if (image_.bytes) {
        Log("Send File... please wait.\n");
        HCURSOR previous = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)) /* IDC_WAIT */);
        InvalidateRect(window_, nullptr, TRUE);
        UpdateWindow(window_);

        const SendResult result = SendOsImage(device.Get(), image_);
        const unsigned rate = zvupdate::TransferRateKBps(image_.length, result.elapsedMs);
        if (result.accepted && result.returned == image_.length) {
            Log("Result: %d, time %u, rate %u kb/sec\n", 1, static_cast<unsigned>(result.elapsedMs), rate);
            Log("File sent\n");
            sent_ = true;
        } else {
            char line[256];
            std::snprintf(line, sizeof line, "Result: %d, code %u, time %u, rate %u kb/sec\n\n", result.accepted,
                          static_cast<unsigned>(result.error), static_cast<unsigned>(result.elapsedMs), rate);
            Log("%s", line);
            if (shared_.showWindow.load()) {
                MessageBoxW(GetDesktopWindow(), com::FromAnsi(line).c_str(),
                            com::FromAnsi(LoadLangString(IDS_UPDATE_TITLE)).c_str(), MB_OK);
            }
            Log("File not sent\n");
            sent_ = false;
        }
        Log("m_pZvOSFileBuffer %p\nm_dwZvOSFileBufferLength %u\ndwReceivedLength %u\n",
            static_cast<void*>(image_.bytes.get()), static_cast<unsigned>(image_.length),
            static_cast<unsigned>(result.returned));
        SetCursor(previous);
        InvalidateRect(window_, nullptr, TRUE);
        UpdateWindow(window_);
    }
    device.Reset();
    if (!sent_) {
        status_ = kStatusNotSent;
        PostMessageW(window_, WM_COMMAND, IDOK, 0);
    }
}

void LoaderWindow::OnStartTimer() {
    Log("OnStartTimer()\n");
    KillTimer(window_, kStartTimer);
    startTimer_ = 0;
    SetEvent(shared_.startEvent);
}

void LoaderWindow::OnFinishTimer() {
    Log("OnFinishTimer()\n");
    KillTimer(window_, kFinishTimer);
    finishTimer_ = 0;
    status_ = sent_ ? 0 : kStatusFinishTimer;
    PostMessageW(window_, WM_COMMAND, IDOK, 0);
}

// Whether the device name holds the language library's text after its first character.
bool LoaderWindow::NameContains(UINT stringId) const {
    const std::string part = LoadLangString(stringId);
    return !part.empty() && deviceName_.size() > 1 && deviceName_.find(part, 1) != std::string::npos;
}

void LoaderWindow::OnDeviceChange(WPARAM event, LPARAM data) {
    Log("OnDeviceChange(WPARAM: %d, LPARAM: %d)\n", static_cast<int>(event), static_cast<int>(data));
    if (!data || (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE))
        return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    Log("dbch_devicetype: %d\n", static_cast<int>(header->dbch_devicetype));
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return;
    // The window is registered with the wide form, so the name is UTF-16.
    deviceName_ = com::TerminatedToAnsi(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data)->dbcc_name);
    Log("m_strUSBDeviceName: %s\n", deviceName_.c_str());
    const int state = devlink15::FindDeviceClassByIndex(static_cast<int>(deviceNumber_));
    Log("Get_Zelvan_State(%d): %d\n", static_cast<int>(deviceNumber_), state);

    if (event == DBT_DEVICEARRIVAL) {
        if (NameContains(IDS_UPDATE_LOADER_NAME_PART))
            OnDeviceArrival(DeviceKind::Loader);
        else if (NameContains(IDS_UPDATE_BOOTED_NAME_PART))
            OnDeviceArrival(DeviceKind::Booted);
        else if (state == 1)
            OnDeviceArrival(DeviceKind::Loader);
        else if (state == 2)
            OnDeviceArrival(DeviceKind::Booted);
    } else {
        OnDeviceRemoveComplete(!NameContains(IDS_UPDATE_LOADER_NAME_PART) && NameContains(IDS_UPDATE_BOOTED_NAME_PART)
                                   ? DeviceKind::Booted
                                   : DeviceKind::Loader);
    }
}

void LoaderWindow::OnDeviceArrival(DeviceKind kind) {
    Log("OnDeviceArrival()\n");
    if (kind == DeviceKind::Booted) {
        Log("Device: DEVICE_0x41\n");
        if (sent_) {
            Log("Complete!");
            status_ = 0;
            PostMessageW(window_, WM_COMMAND, IDOK, 0);
        }
    } else {
        Log("Device: DEVICE_0x40\n");
    }
}

void LoaderWindow::OnDeviceRemoveComplete(DeviceKind kind) {
    Log("OnDeviceRemoveComplete()\n");
    Log(kind == DeviceKind::Booted ? "Device: DEVICE_0x41\n" : "Device: DEVICE_0x40\n");
}

void LoaderWindow::Close(int command) {
    // Once the image is in, the device is already starting its new system: a cancel then (one
    // that came while the image was sent, say) ends the wait for it but changes no status.
    if (command == IDCANCEL && !sent_)
        status_ = kStatusCancelled;
    image_ = OsImage{};
    for (UINT_PTR* timer : {&finishTimer_, &startTimer_, &sendTimer_}) {
        if (*timer)
            KillTimer(window_, *timer);
        *timer = 0;
    }
    if (notification_) {
        UnregisterDeviceNotification(notification_);
        notification_ = nullptr;
    }
    PostQuitMessage(command == IDCANCEL ? 2 : 1);
}

void LoaderWindow::Layout() {
    RECT client{};
    GetClientRect(window_, &client);
    const int w = client.right;
    const int h = client.bottom;
    auto place = [this](int id, int x, int y, int cx, int cy) {
        SetWindowPos(GetDlgItem(window_, id), nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(IDC_LOADER_LOG, 3, 2, w - 6, h - 32);
    place(IDCANCEL, w - 63, h - 25, 60, 23);
    place(IDC_LOADER_STATUS, 3, h - 25, w - 115, 23);
    place(IDC_LOADER_STATE, w - 106, h - 25, 40, 23);
}

// While an edge is dragged the client area stays at least 200 by 150; the dragged edge gives way.
void LoaderWindow::KeepMinimumSize(WPARAM edge, RECT* rect) {
    RECT window{}, client{};
    GetWindowRect(window_, &window);
    GetClientRect(window_, &client);
    const int minWidth = 200 + (window.right - window.left) - client.right;
    const int minHeight = 150 + (window.bottom - window.top) - client.bottom;
    if (rect->right - rect->left < minWidth) {
        if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT)
            rect->left = rect->right - minWidth;
        else
            rect->right = rect->left + minWidth;
    }
    if (rect->bottom - rect->top < minHeight) {
        if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT)
            rect->top = rect->bottom - minHeight;
        else
            rect->bottom = rect->top + minHeight;
    }
}

// Ends the worker: both events are signalled so that no waiter is left behind.
DWORD FinishWorker(LoaderShared& shared, long status, HRESULT comInit) {
    shared.status = status;
    SetEvent(shared.startEvent);
    SetEvent(shared.deviceEvent);
    if (SUCCEEDED(comInit))
        CoUninitialize();
    return static_cast<DWORD>(status);
}

} // namespace

long ReadOsImage(const std::wstring& fileName, OsImage& image) {
    image = OsImage{};
    com::UniqueFileHandle file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return static_cast<long>(GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        return static_cast<long>(GetLastError());
    // One request carries a 32-bit length: a larger image is refused, never cut short.
    if (size.QuadPart > MAXDWORD)
        return kStatusImageTooLarge;
    // Nor is an empty file an image: a request without bytes would count as sent.
    if (size.QuadPart == 0)
        return kStatusEmptyImage;
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[length]);
    if (!bytes)
        return kStatusNoMemory;
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.get(), length, &read, nullptr))
        return static_cast<long>(GetLastError());
    if (read != length)
        return static_cast<long>(GetLastError() ? GetLastError() : ERROR_HANDLE_EOF);
    image.bytes = std::move(bytes);
    image.length = length;
    return 0;
}

SendResult SendOsImage(HANDLE device, const OsImage& image) {
    SendResult result;
    const DWORD started = GetTickCount();
    result.accepted = DeviceIoControl(device, kLoadImageRequest, image.bytes.get(), image.length, nullptr, 0,
                                      &result.returned, nullptr);
    result.error = GetLastError();
    result.elapsedMs = GetTickCount() - started;
    return result;
}

DWORD WINAPI LoadThreadProc(void* parameter) {
    const HRESULT com = CoInitialize(nullptr);
    std::unique_ptr<LoaderThreadContext> context(static_cast<LoaderThreadContext*>(parameter));
    if (!context || !context->shared) {
        if (SUCCEEDED(com))
            CoUninitialize();
        return kStatusNoObject;
    }
    LoaderShared& shared = *context->shared;
    shared.status = kStatusRunning;

    OsImage image;
    const long read = ReadOsImage(context->settings.imageFile, image);
    if (read != 0)
        return FinishWorker(shared, read, com);
    if (shared.cancelRequested.load())
        return FinishWorker(shared, kStatusCancelled, com);

    LoaderWindow loader(shared, context->settings, std::move(image));
    HWND window = loader.Create();
    if (!window)
        return FinishWorker(shared, kStatusNoWindow, com);
    ShowWindow(window, shared.showWindow.load() ? SW_SHOW : SW_HIDE);
    shared.window = window;
    // A cancel that came while the window was being made is not lost.
    if (shared.cancelRequested.load())
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    DestroyWindow(window);
    shared.window = nullptr;
    return FinishWorker(shared, loader.Status(), com);
}

} // namespace tv::update
