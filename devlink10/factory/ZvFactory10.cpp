#include "ZvFactory10.h"
#include "AnsiText.h"
#include "Devlink10Ids.h"
#include "LanguageLibrary.h"
#include "Listing10.h"
#include "MessagePump.h"
#include "SerialPortList.h"
#include "ZvDevice10.h"
#include "ZvPort.h"

#include <cstdio>
#include <memory>

namespace devlink10 {

const CLSID kClsidZvFactory10 = {0xA1743AE2, 0xDCB6, 0x4AF2, {0xBC, 0x36, 0x7D, 0xC0, 0xBC, 0x90, 0x9A, 0x8E}};

namespace {

const CLSID kClsidZvPortCOM = {0xBA47E214, 0x661B, 0x4016, {0xB3, 0x4D, 0xDF, 0x16, 0x60, 0xDE, 0x9E, 0x36}};
constexpr UINT kDeviceArrived = WM_APP + 0x101; // lParam: the slot record
constexpr UINT kDeviceLost = WM_APP + 0x102;    // wParam: port; lParam: the name (new'd)
// A lost device's port is left alone for this long, so that a device going away is not found
// again half-way.
constexpr DWORD kLostHoldOffMs = 5000;
// The detection port waits this long at most for one request.
constexpr long kDetectionRequestLimitMs = 10000;
// How long the factory's end waits for the detection thread. The thread ends at once unless it
// waits for a port's answer (a port without a device answers nothing for seconds); it then ends
// by itself when that request ends, holding its own share of the detection state and this
// module until then.
constexpr DWORD kStopGraceMs = 100;

HRESULT Request(IZvPort* port, const std::string& command, std::string& reply) {
    auto text = tv::com::AnsiToUniqueBstr(command);
    tv::com::UniqueBstr response;
    const HRESULT hr = port->RequestSync(text.Get(), response.Put());
    reply = hr == S_OK ? tv::com::ToAnsi(response.Get()) : std::string();
    return hr;
}

void Disconnect(IZvPort* port) {
    tv::com::UniqueBstr output;
    port->Disconnect(output.Put());
}

// The naming dialog: the name and the guest choice.
struct NamingDialog {
    std::string id;
    std::string name;
    bool guest = true;

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            auto* self = reinterpret_cast<NamingDialog*>(lParam);
            ::SetDlgItemTextA(dialog, IDC_DEVICE10_NAME, self->id.c_str());
            ::CheckRadioButton(dialog, IDC_DEVICE10_OWN, IDC_DEVICE10_GUEST, IDC_DEVICE10_GUEST);
            ::SetForegroundWindow(dialog);
            return TRUE;
        }
        auto* self = reinterpret_cast<NamingDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
        if (self && message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            self->OnOk(dialog);
            return TRUE;
        }
        return FALSE;
    }

    // A name with a character outside the allowed ones is refused with its message, the name box
    // set back to the identifier and the dialog kept open; the empty name is valid.
    void OnOk(HWND dialog) {
        char typed[512] = {};
        ::GetDlgItemTextA(dialog, IDC_DEVICE10_NAME, typed, sizeof typed);
        const std::string typedName = typed;
        const std::string allowed = LangString(IDS_DEVICE10_ALLOWED_CHARS);
        if (!allowed.empty() && typedName.find_first_not_of(allowed) != std::string::npos) {
            ::MessageBoxA(dialog, LangString(IDS_FACTORY10_NAME_INVALID).c_str(),
                          LangString(IDS_FACTORY10_WARNING_CAPTION).c_str(), MB_OK | MB_ICONEXCLAMATION);
            ::SetDlgItemTextA(dialog, IDC_DEVICE10_NAME, id.c_str());
            return;
        }
        name = typedName;
        guest = ::IsDlgButtonChecked(dialog, IDC_DEVICE10_GUEST) == BST_CHECKED;
        ::EndDialog(dialog, IDOK);
    }
};

bool IsSet(HANDLE event) {
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

void NameNewDevice(const std::string& id, HANDLE stop) {
    tv::com::UniqueModule resources(tv::LoadLanguageLibrary(ThisModule()));
    for (;;) {
        if (IsSet(stop))
            return;
        NamingDialog dialog{id, {}, true};
        const INT_PTR shown =
            resources ? ::DialogBoxParamA(resources.Get(), MAKEINTRESOURCEA(IDD_DEVICE10_NAMING), nullptr,
                                          &NamingDialog::Proc, reinterpret_cast<LPARAM>(&dialog))
                      : -1;
        // Closed because the factory ends: the device stays unnamed and is asked about next time.
        if (IsSet(stop))
            return;
        // Without the dialog the device keeps its identifier as its name.
        if (shown <= 0) {
            WriteDeviceRegistration(id, id, 1);
            return;
        }
        if (IsNameTakenByOther(dialog.name, id)) {
            ::MessageBoxA(nullptr, LangString(IDS_FACTORY10_NAME_TAKEN).c_str(),
                          LangString(IDS_FACTORY10_WARNING_CAPTION).c_str(), MB_OK | MB_ICONWARNING);
            continue;
        }
        WriteDeviceRegistration(id, dialog.name, dialog.guest ? 1 : 0);
        return;
    }
}

// --- detection --------------------------------------------------------------------------------------

// The detection thread's side of the factory: what the thread needs of it, shared by both. The
// thread keeps its share (and this module) for as long as it runs, so that a factory ending while
// the thread waits for a port's answer need not wait for that answer: once stopped, the thread
// touches nothing else of the factory.
class ZvFactory10::Detection {
  public:
    Detection(DeviceNamer namer, DWORD roundPauseMs, HWND window)
        : namer_(std::move(namer)), roundPauseMs_(roundPauseMs), window_(window),
          stop_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    bool Ready() const { return static_cast<bool>(stop_); }
    void Stop() { ::SetEvent(stop_.Get()); }
    // Starts the detection thread with its own share of the state and its own reference to this
    // module (so that it may end after the factory, and after COM has let the module go); the
    // thread's handle, or null.
    static HANDLE StartThread(const std::shared_ptr<Detection>& detection, DWORD& threadId);

    // The slots' state, kept by the factory's thread as devices come and go.
    void Claim(int n) {
        std::lock_guard<std::mutex> guard(mutex_);
        claimed_[n] = true;
    }
    // A lost device's port is left alone for a while, so that a device going away is not found
    // again half-way.
    void Release(int n, DWORD holdOffMs) {
        std::lock_guard<std::mutex> guard(mutex_);
        claimed_[n] = false;
        knownIds_[n].clear();
        holdOffUntil_[n] = ::GetTickCount() + holdOffMs;
    }
    std::string KnownId(int n) const {
        std::lock_guard<std::mutex> guard(mutex_);
        return knownIds_[n];
    }

  private:
    struct ThreadStart {
        std::shared_ptr<Detection> detection;
        HMODULE module;
    };
    static DWORD WINAPI ThreadMain(void* parameter);
    // The thread's work: rounds over the listed ports until the stop.
    void Run();
    bool Stopped() const { return IsSet(stop_.Get()); }
    bool SleepUnlessStopped(DWORD ms) const { return ::WaitForSingleObject(stop_.Get(), ms) == WAIT_TIMEOUT; }
    void ProbePort(IZvPort* port, int n);

    const DeviceNamer namer_;
    const DWORD roundPauseMs_;
    const HWND window_; // the factory's; found devices are sent to it until the stop
    tv::com::UniqueHandle stop_;
    mutable std::mutex mutex_;           // guards the three arrays
    std::array<bool, kSlots> claimed_{}; // a device object owns the port
    std::array<std::string, kSlots> knownIds_;
    std::array<DWORD, kSlots> holdOffUntil_{};
};

ZvFactory10::ZvFactory10(tv::com::SharedInstance<ZvFactory10>& slot, DeviceNamer namer, DWORD roundPauseMs)
    : SharedComObject(slot), namer_(std::move(namer)), roundPauseMs_(roundPauseMs) {}

HRESULT ZvFactory10::FinalConstruct() {
    static const ATOM windowClass = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &ZvFactory10::WindowProc;
        wc.hInstance = ThisModule();
        wc.lpszClassName = "ZvFactory10Window";
        return ::RegisterClassA(&wc);
    }();
    (void)windowClass;
    window_.Reset(::CreateWindowExA(0, "ZvFactory10Window", "", WS_CHILD, 10, 10, 100, 100, ::GetDesktopWindow(),
                                    nullptr, ThisModule(), nullptr));
    if (!window_)
        return E_FAIL;
    ::SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    detection_ = std::make_shared<Detection>(namer_, roundPauseMs_, window_.Get());
    if (!detection_->Ready())
        return E_FAIL;
    detectionThread_.Reset(Detection::StartThread(detection_, detectionThreadId_));
    return detectionThread_ ? S_OK : E_FAIL;
}

ZvFactory10::~ZvFactory10() {
    // Found devices that still arrive are not taken any more.
    ::SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, 0);
    if (detection_) {
        detection_->Stop();
        // A naming dialog (or its message box) on the detection thread ends at a quit message; the
        // naming then sees the stop and registers nothing. The thread made its message queue
        // first thing: a thread without one yet has not come near a dialog and sees the stop.
        if (detectionThread_)
            ::PostThreadMessageA(detectionThreadId_, WM_QUIT, 0, 0);
    }
    // The thread may be sending a found device to this thread's window: messages keep flowing.
    if (detectionThread_)
        tv::WaitWithMessagePump(detectionThread_.Get(), kStopGraceMs);
    // Messages still queued for the window go with it.
    MSG message;
    while (::PeekMessageA(&message, window_.Get(), kDeviceLost, kDeviceLost, PM_REMOVE))
        delete reinterpret_cast<std::string*>(message.lParam);
}

STDMETHODIMP ZvFactory10::SetLangId(long nLangId) {
    langId_ = nLangId;
    return S_OK;
}

STDMETHODIMP ZvFactory10::Advise(IZvFactoryCallback* piCallback, long* nCookie) {
    if (!piCallback || !nCookie)
        return E_POINTER;
    std::vector<tv::com::ComPtr<IZvDevice>> present;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        *nCookie = static_cast<long>(callbacks_.size());
        callbacks_.emplace_back(piCallback);
        for (int n = 1; n < kSlots; ++n) {
            // Only slots that hold a device object are reported.
            if (devices_[n] && detection_->KnownId(n).find('@') != std::string::npos)
                present.push_back(devices_[n]);
        }
    }
    for (auto& device : present)
        piCallback->OnDeviceFound(kClsidZvFactory10, device.Get());
    return S_OK;
}

STDMETHODIMP ZvFactory10::UnAdvise(long nCookie) {
    tv::com::ComPtr<IZvFactoryCallback> released;
    std::lock_guard<std::mutex> guard(mutex_);
    if (nCookie < 0 || static_cast<size_t>(nCookie) >= callbacks_.size())
        return E_INVALIDARG;
    released.Swap(callbacks_[static_cast<size_t>(nCookie)]);
    return S_OK;
}

STDMETHODIMP ZvFactory10::GetVirtualDevice(LPSTR, IZvDevice** ppiDevice) {
    if (ppiDevice)
        *ppiDevice = nullptr;
    return S_OK;
}

STDMETHODIMP ZvFactory10::DeleteVirtualDevice(LPSTR, IZvDevice*) { return S_OK; }

std::vector<tv::com::ComPtr<IZvFactoryCallback>> ZvFactory10::Callbacks() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> present;
    for (const auto& callback : callbacks_) {
        if (callback)
            present.push_back(callback);
    }
    return present;
}

HANDLE ZvFactory10::Detection::StartThread(const std::shared_ptr<Detection>& detection, DWORD& threadId) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ThreadMain),
                              &module))
        return nullptr;
    auto start = std::make_unique<ThreadStart>(ThreadStart{detection, module});
    HANDLE thread = ::CreateThread(nullptr, 0, &ThreadMain, start.get(), 0, &threadId);
    if (!thread) {
        ::FreeLibrary(module);
        return nullptr;
    }
    start.release();
    return thread;
}

DWORD WINAPI ZvFactory10::Detection::ThreadMain(void* parameter) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        module = start->module;
        start->detection->Run();
    }
    ::FreeLibraryAndExitThread(module, 0);
}

void ZvFactory10::Detection::Run() {
    // A message queue from the start, so that the factory's quit message reaches any dialog of
    // the naming.
    MSG message;
    ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    tv::com::ComApartment apartment(COINIT_APARTMENTTHREADED);
    tv::com::ComPtr<IZvPort> port;
    if (FAILED(::CoCreateInstance(kClsidZvPortCOM, nullptr, CLSCTX_ALL, IID_IZvPort,
                                  reinterpret_cast<void**>(&port))))
        return;
    char limit[64];
    std::snprintf(limit, sizeof limit, "<SetTimeOut>|%ld|", kDetectionRequestLimitMs);
    port->SetParam(tv::com::AnsiToUniqueBstr(limit).Get());
    do {
        // Only ports in the system's list are opened: a round where no port exists costs a registry read.
        const SerialPortSet existing = ExistingSerialPorts();
        for (int n = 1; n < kSlots && !Stopped(); ++n) {
            if (existing.test(static_cast<size_t>(n)))
                ProbePort(port.Get(), n);
        }
    } while (SleepUnlessStopped(roundPauseMs_));
    Disconnect(port.Get());
}

void ZvFactory10::Detection::ProbePort(IZvPort* port, int n) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (claimed_[n] || static_cast<LONG>(holdOffUntil_[n] - ::GetTickCount()) > 0)
            return;
    }
    char connect[32];
    std::snprintf(connect, sizeof connect, "<Connect>|%d|", n);
    tv::com::UniqueBstr output;
    if (port->Connect(tv::com::AnsiToUniqueBstr(connect).Get(), output.Put()) != S_OK) {
        Disconnect(port);
        return;
    }
    auto forget = [&] {
        std::lock_guard<std::mutex> guard(mutex_);
        knownIds_[n].clear();
        Disconnect(port);
    };
    std::string id;
    if (!SleepUnlessStopped(100)) {
        Disconnect(port);
        return;
    }
    if (Request(port, "<GetID>", id) != S_OK) {
        if (!SleepUnlessStopped(100))
            return forget();
        std::string reply;
        if (Request(port, "<Command>|3\n|", reply) != S_OK || reply.find("Ready") == std::string::npos ||
            Request(port, "<GetID>", id) != S_OK)
            return forget();
    }
    std::string sysinfo;
    Request(port, "<Command>|sysinfo /default|", sysinfo);
    DeviceSlot slot;
    slot.model = ModelFromSysinfo(sysinfo);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (id == knownIds_[n]) {
            Disconnect(port);
            return;
        }
        knownIds_[n] = id;
    }
    char defaultName[256];
    std::snprintf(defaultName, sizeof defaultName, LangString(IDS_FACTORY10_DEFAULT_NAME).c_str(), id.c_str(), n);
    slot.defaultName = defaultName;
    slot.id = id;
    slot.port = n;
    Disconnect(port);
    if (!ReadDeviceName(id, slot.name) && !Stopped()) {
        namer_(id, stop_.Get());
        ReadDeviceName(id, slot.name);
    }
    if (Stopped())
        return;
    ::SendMessageA(window_, kDeviceArrived, 0, reinterpret_cast<LPARAM>(&slot));
}

// --- the factory's window -------------------------------------------------------------------------

LRESULT CALLBACK ZvFactory10::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ZvFactory10*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == kDeviceArrived) {
        if (self)
            self->OnDeviceArrived(*reinterpret_cast<const DeviceSlot*>(lParam));
        return 0;
    }
    if (message == kDeviceLost) {
        std::unique_ptr<std::string> name(reinterpret_cast<std::string*>(lParam));
        if (self)
            self->OnDeviceLost(static_cast<long>(wParam), *name);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void ZvFactory10::OnDeviceArrived(const DeviceSlot& slot) {
    tv::com::ComPtr<ZvDevice10> device;
    if (FAILED(ZvDevice10::Create(device)))
        return;
    device->Attach(slot, this);
    tv::com::ComPtr<IZvDevice> face;
    if (FAILED(device->QueryInterface(IID_IZvDevice, reinterpret_cast<void**>(&face))))
        return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        devices_[slot.port] = face;
    }
    detection_->Claim(slot.port);
    for (auto& callback : Callbacks())
        callback->OnDeviceFound(kClsidZvFactory10, face.Get());
}

void ZvFactory10::PostDeviceLost(long port, const std::string& name) {
    auto* text = new (std::nothrow) std::string(name);
    if (text && !::PostMessageA(window_.Get(), kDeviceLost, static_cast<WPARAM>(port), reinterpret_cast<LPARAM>(text)))
        delete text;
}

void ZvFactory10::OnDeviceLost(long port, const std::string& name) {
    if (port <= 0 || port >= kSlots)
        return;
    tv::com::ComPtr<IZvDevice> released;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!devices_[port])
            return;
        released.Swap(devices_[port]);
    }
    detection_->Release(port, kLostHoldOffMs);
    for (auto& callback : Callbacks())
        callback->OnDeviceLost(kClsidZvFactory10, const_cast<LPSTR>(name.c_str()));
}

} // namespace devlink10
