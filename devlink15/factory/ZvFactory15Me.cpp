#include "ZvFactory15Me.h"

#include "HResult.h"
#include "MessagePump.h"
#include "UsbDevices.h"
#include "Zelvan15Classes.h"

#include <dbt.h>

#include <algorithm>
#include <cstring>

namespace devlink15 {
namespace {

constexpr DWORD kPromptWaitMs = 10000;
constexpr DWORD kSettleWaitMs = 5000;
constexpr DWORD kScanDelayMs = 1000;
constexpr DWORD kScanPeriodMs = 10000;
constexpr DWORD kPassPauseMs = 1000;
constexpr char kIdentifyCommand[] = "id $pipe=17";

bool ContainsIgnoringCase(const std::vector<std::string>& list, const std::string& item) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& e) { return SamePath(e, item); });
}

} // namespace

ZvFactory15Me::ZvFactory15Me(DeviceMaker maker) : maker_(std::move(maker)) {}

ZvFactory15Me::~ZvFactory15Me() {
    if (stop_)
        SetEvent(stop_.Get());
    if (watcher_.joinable())
        watcher_.join();
    if (pulses_.joinable())
        pulses_.join();
    // Drop messages the watcher posted but nobody handled, with the strings they carry.
    if (HWND window = window_.Handle()) {
        MSG message;
        while (PeekMessageW(&message, window, kGoneDeviceMessage, kGoneDeviceMessage, PM_REMOVE))
            CoTaskMemFree(reinterpret_cast<void*>(message.lParam));
    }
    window_.Destroy();
    for (auto& device : devices_)
        device->ResetDeviceState(-2);
}

HRESULT ZvFactory15Me::FinalConstruct() {
    if (!IsWindowsMe(SystemVersion()))
        return S_OK;
    settle_.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    scanGate_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    running_.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    pulseRequested_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!settle_ || !scanGate_ || !running_ || !stop_ || !pulseRequested_)
        return HRESULT_FROM_WIN32(GetLastError());
    active_ = true;
    window_.Create([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        return HandleMessage(message, wParam, lParam, result);
    });
    watcher_ = std::thread(&ZvFactory15Me::WatcherProc, this);
    pulses_ = std::thread(&ZvFactory15Me::PulseProc, this);
    RequestPulse();
    return S_OK;
}

bool ZvFactory15Me::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            ResetEvent(settle_.Get());
        RequestPulse();
        result = TRUE;
        return true;
    case kNewDeviceMessage: {
        // The identification dispatches messages while it waits: the object must outlive it.
        tv::com::ComPtr<ZvFactory15Me> keepAlive(this);
        IdentifyDevice(static_cast<int>(wParam));
        result = 1;
        return true;
    }
    case kGoneDeviceMessage: {
        tv::com::UniqueTaskMem<char> id(reinterpret_cast<char*>(lParam));
        if (id.Get())
            DropDevice(id.Get());
        result = 1;
        return true;
    }
    case kResumeMessage:
        SetEvent(running_.Get());
        return true;
    case kSuspendMessage:
        ResetEvent(running_.Get());
        return true;
    default:
        return false;
    }
}

STDMETHODIMP ZvFactory15Me::SetLangId(long) {
    return S_OK;
}

STDMETHODIMP ZvFactory15Me::Advise(IZvFactoryCallback* piCallback, long* nCookie) {
    if (!active_)
        return S_OK;
    TV_RETURN_IF_FAILED(sinks_.Advise(piCallback, nCookie));
    const std::vector<tv::com::ComPtr<IZvDevice>> known = devices_;
    for (const auto& device : known)
        piCallback->OnDeviceFound(kClsidZvFactory15Me, device.Get());
    return S_OK;
}

STDMETHODIMP ZvFactory15Me::UnAdvise(long nCookie) {
    if (!active_)
        return S_OK;
    return sinks_.UnAdvise(nCookie);
}

STDMETHODIMP ZvFactory15Me::GetVirtualDevice(LPSTR, IZvDevice** ppiDevice) {
    if (!active_)
        return S_OK;
    if (!ppiDevice)
        return E_POINTER;
    *ppiDevice = nullptr;
    return S_OK;
}

STDMETHODIMP ZvFactory15Me::DeleteVirtualDevice(LPSTR, IZvDevice*) {
    return S_OK;
}

void ZvFactory15Me::ForgetId(const std::string& id) {
    std::lock_guard<std::mutex> guard(listLock_);
    auto known = std::find(knownIds_.begin(), knownIds_.end(), id);
    if (known != knownIds_.end())
        knownIds_.erase(known);
}

HRESULT ZvFactory15Me::IdentifyDevice(int number) {
    if (!active_)
        return S_OK;
    std::unique_ptr<FactoryDevice> device;
    TV_RETURN_IF_FAILED(maker_(device));
    bool kept = false;
    // A device object that is not kept lets go of its port before it goes.
    struct ResetUnlessKept {
        FactoryDevice& device;
        bool& kept;
        ~ResetUnlessKept() {
            tv::com::ComPtr<IZvDevice> face;
            if (!kept && SUCCEEDED(device.QueryDevice(&face)) && face)
                face->ResetDeviceState(-2);
        }
    } resetUnlessKept{*device, kept};

    std::string shortId;
    if (!ReadShortId(number, shortId))
        return E_UNEXPECTED;
    const std::string id = StringIdOf(shortId);
    device->SetStrId(id);
    {
        // The watcher may post the same device again while it is being identified (the
        // identification dispatches messages while it waits): one acceptance is enough.
        std::lock_guard<std::mutex> guard(listLock_);
        if (std::find(knownIds_.begin(), knownIds_.end(), id) != knownIds_.end()) {
            kept = true;
            return S_FALSE;
        }
        knownIds_.push_back(id);
    }
    if (!IsDeviceRegistered(id))
        RegisterNewDevice(id);
    device->ConnectPort(number);
    std::string again;
    if (!ReadShortId(number, again)) {
        ForgetId(id);
        return E_UNEXPECTED;
    }
    if (id.find(again) == std::string::npos) {
        ForgetId(id);
        return E_FAIL;
    }
    std::string name;
    ReadDeviceName(id, name);
    device->SetName(name);
    std::string reply;
    device->PortCommand(kIdentifyCommand, reply);
    if (!device->PromptEvent() || !tv::WaitWithMessagePump(device->PromptEvent(), kPromptWaitMs) ||
        FAILED(device->PortCommand(kIdentifyCommand, reply))) {
        ForgetId(id);
        return E_FAIL;
    }
    tv::com::ComPtr<IZvDevice> face;
    const HRESULT hr = device->QueryDevice(&face);
    if (FAILED(hr)) {
        ForgetId(id);
        return hr;
    }
    kept = true;
    devices_.push_back(face);
    sinks_.DeviceFound(kClsidZvFactory15Me, face.Get());
    return S_OK;
}

void ZvFactory15Me::DropDevice(const std::string& id) {
    if (!active_)
        return;
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        char strId[260] = {};
        if (FAILED((*it)->GetStrID(sizeof(strId), reinterpret_cast<unsigned char*>(strId))) || id != strId)
            continue;
        tv::com::ComPtr<IZvDevice> device = *it;
        devices_.erase(it);
        device->ResetDeviceState(-1);
        device.Reset();
        sinks_.DeviceLost(kClsidZvFactory15Me, id);
        return;
    }
}

bool ZvFactory15Me::WaitOrStop(HANDLE handle, DWORD timeoutMs) {
    const HANDLE handles[] = {stop_.Get(), handle};
    return WaitForMultipleObjects(2, handles, FALSE, timeoutMs) == WAIT_OBJECT_0 + 1;
}

bool ZvFactory15Me::WaitToQuery() {
    const HANDLE handles[] = {stop_.Get(), settle_.Get()};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, kSettleWaitMs);
    SetEvent(settle_.Get());
    return result != WAIT_OBJECT_0;
}

void ZvFactory15Me::RequestPulse() {
    {
        std::lock_guard<std::mutex> guard(pulseLock_);
        ++pendingPulses_;
    }
    SetEvent(pulseRequested_.Get());
}

// The pulses run one after another: each opens the scan gate for one scanning period.
void ZvFactory15Me::PulseProc() {
    while (WaitOrStop(pulseRequested_.Get(), INFINITE)) {
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(pulseLock_);
                if (pendingPulses_ == 0)
                    break;
                --pendingPulses_;
            }
            if (WaitForSingleObject(stop_.Get(), kScanDelayMs) == WAIT_OBJECT_0)
                return;
            SetEvent(scanGate_.Get());
            const bool stopping = WaitForSingleObject(stop_.Get(), kScanPeriodMs) == WAIT_OBJECT_0;
            ResetEvent(scanGate_.Get());
            if (stopping)
                return;
        }
    }
}

void ZvFactory15Me::WatcherProc() {
    const HANDLE stop = stop_.Get();
    for (;;) {
        // Suspension and the scan gate are waited for here, between passes, never under the lock.
        const HANDLE gates[] = {stop, running_.Get()};
        if (WaitForMultipleObjects(2, gates, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return;
        const HANDLE scan[] = {stop, scanGate_.Get()};
        if (WaitForMultipleObjects(2, scan, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return;

        std::vector<std::string> present;
        if (!WaitToQuery())
            return;
        const int count = CountUsbDevices();
        for (int number = 0; number < count; ++number) {
            std::string shortId;
            if (!WaitToQuery())
                return;
            if (ReadShortId(number, shortId))
                present.push_back(StringIdOf(shortId));
        }
        for (const std::string& id : present) {
            bool known;
            {
                std::lock_guard<std::mutex> guard(listLock_);
                known = ContainsIgnoringCase(knownIds_, id);
            }
            if (known)
                continue;
            for (int number = 0; number < count; ++number) {
                std::string shortId;
                if (!WaitToQuery())
                    return;
                if (ReadShortId(number, shortId) && StringIdOf(shortId) == id) {
                    PostMessageW(window_.Handle(), kNewDeviceMessage, static_cast<WPARAM>(number), 0);
                    break;
                }
            }
        }
        std::string gone;
        {
            std::lock_guard<std::mutex> guard(listLock_);
            for (auto known = knownIds_.begin(); known != knownIds_.end(); ++known)
                if (std::find(present.begin(), present.end(), *known) == present.end()) {
                    gone = *known;
                    knownIds_.erase(known);
                    break;
                }
        }
        if (!gone.empty()) {
            auto* copy = static_cast<char*>(CoTaskMemAlloc(gone.size() + 1));
            if (copy) {
                std::memcpy(copy, gone.c_str(), gone.size() + 1);
                if (!PostMessageW(window_.Handle(), kGoneDeviceMessage, 0, reinterpret_cast<LPARAM>(copy)))
                    CoTaskMemFree(copy);
            }
        }
        if (WaitForSingleObject(stop, kPassPauseMs) == WAIT_OBJECT_0)
            return;
    }
}

} // namespace devlink15
