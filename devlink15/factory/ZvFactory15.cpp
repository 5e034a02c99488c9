#include "ZvFactory15.h"

#include "HResult.h"
#include "MessagePump.h"
#include "UsbDevices.h"
#include "Zelvan15Classes.h"

#include <dbt.h>

namespace devlink15 {
namespace {

constexpr DWORD kPromptWaitMs = 10000;
constexpr DWORD kReArrivalWaitMs = 1500;
constexpr DWORD kArrivalQuietMs = 5000;
constexpr int kOwnInterfaceClass = 2;
constexpr char kIdentifyCommand[] = "id $pipe=17";

void Trace(const char* text) {
    OutputDebugStringA(text);
}

// Until Keep() is called, the device object made for an arrival is let go of cleanly: its port
// is disconnected (waiting for the threads to end) before the last reference goes.
class PendingDevice {
  public:
    explicit PendingDevice(FactoryDevice& device) : device_(device) {}
    ~PendingDevice() {
        if (kept_)
            return;
        tv::com::ComPtr<IZvDevice> face;
        if (SUCCEEDED(device_.QueryDevice(&face)) && face)
            face->ResetDeviceState(-2);
    }
    PendingDevice(const PendingDevice&) = delete;
    PendingDevice& operator=(const PendingDevice&) = delete;
    void Keep() { kept_ = true; }

  private:
    FactoryDevice& device_;
    bool kept_ = false;
};

} // namespace

ZvFactory15::ZvFactory15(DeviceMaker maker) : maker_(std::move(maker)) {}

ZvFactory15::~ZvFactory15() {
    window_.Destroy();
    for (Announced& announced : devices_)
        announced.device->ResetDeviceState(-2);
}

HRESULT ZvFactory15::FinalConstruct() {
    const DWORD version = SystemVersion();
    if (IsWindowsMe(version)) {
        inactive_ = true;
        return S_OK;
    }
    reArrival_.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    if (!reArrival_)
        return HRESULT_FROM_WIN32(GetLastError());
    legacyRemoval_ = IsLegacyRemovalSystem(version);
    RunStartUpRoad();
    window_.Create([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        return HandleMessage(message, wParam, lParam, result);
    });
    return S_OK;
}

bool ZvFactory15::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message != WM_DEVICECHANGE)
        return false;
    // A road may dispatch messages while it waits; the object must outlive what runs nested.
    tv::com::ComPtr<ZvFactory15> keepAlive(this);
    if (wParam == DBT_DEVICEARRIVAL) {
        OnArrival(NotificationWindow::InterfacePathOf(lParam));
        Trace("Device initial arrival\n");
    } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
        OnRemoval(NotificationWindow::InterfacePathOf(lParam));
    }
    result = TRUE;
    return true;
}

STDMETHODIMP ZvFactory15::SetLangId(long) {
    return S_OK;
}

STDMETHODIMP ZvFactory15::Advise(IZvFactoryCallback* piCallback, long* nCookie) {
    if (inactive_)
        return S_OK;
    TV_RETURN_IF_FAILED(sinks_.Advise(piCallback, nCookie));
    // The devices already known are announced to the new sink alone (a copy: it may call back).
    const std::vector<Announced> known = devices_;
    for (const Announced& announced : known)
        piCallback->OnDeviceFound(kClsidZvFactory15, announced.device.Get());
    return S_OK;
}

STDMETHODIMP ZvFactory15::UnAdvise(long nCookie) {
    if (inactive_)
        return S_OK;
    return sinks_.UnAdvise(nCookie);
}

STDMETHODIMP ZvFactory15::GetVirtualDevice(LPSTR, IZvDevice** ppiDevice) {
    if (inactive_)
        return S_OK;
    if (!ppiDevice)
        return E_POINTER;
    *ppiDevice = nullptr;
    return S_OK;
}

STDMETHODIMP ZvFactory15::DeleteVirtualDevice(LPSTR, IZvDevice*) {
    return S_OK;
}

bool ZvFactory15::KnowsId(const std::string& id) const {
    for (const Entry& entry : entries_)
        if (entry.id == id)
            return true;
    return false;
}

ZvFactory15::Entry* ZvFactory15::FindEntryById(const std::string& id) {
    for (Entry& entry : entries_)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

void ZvFactory15::RemoveEntry(const std::string& id) {
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry)
        if (entry->id == id) {
            entries_.erase(entry);
            return;
        }
}

bool ZvFactory15::HasUnknownPresentDevice() const {
    const int count = CountUsbDevices();
    for (int number = 0; number <= count; ++number) {
        std::string shortId;
        if (ReadShortId(number, shortId) && !KnowsId(StringIdOf(shortId)))
            return true;
    }
    return false;
}

int ZvFactory15::FindNewDeviceNumber() const {
    for (int number = 0; number < CountUsbDevices(); ++number) {
        std::string shortId;
        if (!ReadShortId(number, shortId))
            continue;
        if (entries_.empty())
            return number;
        bool known = false;
        for (const Entry& entry : entries_)
            known = known || entry.id.find(shortId) != std::string::npos;
        if (!known)
            return number;
    }
    return -1;
}

bool ZvFactory15::WaitForPrompt(HANDLE promptEvent) {
    return promptEvent && tv::WaitWithMessagePump(promptEvent, kPromptWaitMs);
}

void ZvFactory15::ReportNotAnswering(FactoryDevice& device) {
    tv::com::ComPtr<IZvDevice> face;
    if (SUCCEEDED(device.QueryDevice(&face)) && face)
        sinks_.DeviceFound(kNotAnsweringDevice, face.Get());
}

HRESULT ZvFactory15::OnArrival(const std::string& interfacePath) {
    if (inactive_)
        return S_OK;
    Trace("New device appeared check\n");
    if (!interfacePath.empty()) {
        for (Entry& entry : entries_)
            if (SamePath(entry.path, interfacePath))
                ++entry.presence;
        if (legacyRemoval_ && SamePath(interfacePath, lastRemovedPath_))
            SetEvent(reArrival_.Get());
    }
    if (!HasUnknownPresentDevice())
        return S_OK;
    Trace("New device really appeared");
    if (legacyRemoval_ && lastRemovalTime_ != 0 && GetTickCount() - lastRemovalTime_ < kArrivalQuietMs)
        return S_OK;

    std::unique_ptr<FactoryDevice> device;
    TV_RETURN_IF_FAILED(maker_(device));
    PendingDevice pending(*device);
    Trace("Checking if new device present\n");
    const int number = FindNewDeviceNumber();
    if (number < 0)
        return E_FAIL;
    Trace("New device really present\n");
    if (FindDeviceClassByIndex(number) != kOwnInterfaceClass)
        return E_FAIL;
    Trace("New device valid\n");
    std::string shortId;
    if (!ReadShortId(number, shortId) || FindDeviceClassByIndex(number) != kOwnInterfaceClass)
        return E_UNEXPECTED;
    Trace("New device has correct ID\n");

    const std::string id = StringIdOf(shortId);
    device->SetStrId(id);
    entries_.push_back(Entry{id, interfacePath, 1});
    if (!IsDeviceRegistered(id))
        RegisterNewDevice(id);
    const HRESULT hr = Identify(*device, number, shortId, false);
    if (hr == S_OK)
        pending.Keep();
    return hr;
}

HRESULT ZvFactory15::Identify(FactoryDevice& device, int number, const std::string& shortId, bool atStartUp) {
    const std::string id = StringIdOf(shortId);
    HRESULT hr = device.ConnectPort(number);
    if (FAILED(hr)) {
        RemoveEntry(id);
        return hr;
    }
    Trace("New device is attached to port");
    Trace("Initialization completed");
    std::string again;
    if (!ReadShortId(number, again)) {
        RemoveEntry(id);
        return atStartUp ? E_UNEXPECTED : E_FAIL;
    }
    if (atStartUp ? id.find(again) == std::string::npos : again != shortId) {
        RemoveEntry(id);
        return E_FAIL;
    }
    Trace("Zelvan id detected\n");

    if (!atStartUp)
        ResetEvent(device.PromptEvent());
    std::string name;
    ReadDeviceName(id, name);
    device.SetName(name);
    Trace("Zelvan state is fully valid\n");
    Trace("registration procedure is completed \n");
    std::string reply;
    device.PortCommand(kIdentifyCommand, reply);
    if (atStartUp)
        Trace("Testing command has been sent\n");
    if (!WaitForPrompt(device.PromptEvent()) || FAILED(device.PortCommand(kIdentifyCommand, reply))) {
        ReportNotAnswering(device);
        RemoveEntry(id);
        return E_FAIL;
    }
    Trace("Testing command performed\n");
    if (!atStartUp) {
        // A device that answers for someone else is dropped; forgetting it lets a later
        // arrival try it again.
        if (reply.find(shortId) == std::string::npos) {
            RemoveEntry(id);
            return S_FALSE;
        }
        if (FindDeviceClassByIndex(number) != kOwnInterfaceClass) {
            RemoveEntry(id);
            return E_FAIL;
        }
    }
    Trace("Trying to query interface\n");
    tv::com::ComPtr<IZvDevice> face;
    hr = device.QueryDevice(&face);
    if (FAILED(hr)) {
        RemoveEntry(id);
        return hr;
    }
    Trace("Successful...\n");
    devices_.push_back(Announced{face, number});
    sinks_.DeviceFound(kClsidZvFactory15, face.Get());
    return S_OK;
}

void ZvFactory15::RunStartUpRoad() {
    const int count = CountUsbDevices();
    for (int number = 0; number < count; ++number) {
        if (FindDeviceClassByIndex(number) != kOwnInterfaceClass)
            break;
        AttachAtStartUp(number);
    }
}

HRESULT ZvFactory15::AttachAtStartUp(int number) {
    std::unique_ptr<FactoryDevice> device;
    TV_RETURN_IF_FAILED(maker_(device));
    PendingDevice pending(*device);
    std::string shortId;
    if (!ReadShortId(number, shortId))
        return E_UNEXPECTED;
    const std::string id = StringIdOf(shortId);
    device->SetStrId(id);
    const std::string path = InterfacePathOf(number);
    if (path.empty())
        return E_FAIL;
    entries_.push_back(Entry{id, path, 1});
    if (!IsDeviceRegistered(id))
        RegisterNewDevice(id);
    const HRESULT hr = Identify(*device, number, shortId, true);
    if (hr == S_OK)
        pending.Keep();
    return hr;
}

void ZvFactory15::OnRemoval(const std::string& interfacePath) {
    if (inactive_)
        return;
    if (!interfacePath.empty())
        for (Entry& entry : entries_)
            if (SamePath(entry.path, interfacePath))
                --entry.presence;
    std::string id;
    for (const Entry& entry : entries_)
        if (SamePath(entry.path, interfacePath)) {
            id = entry.id;
            break;
        }
    if (id.empty())
        return;
    if (legacyRemoval_) {
        lastRemovalTime_ = GetTickCount();
        if (lastRemovalTime_ == 0)
            lastRemovalTime_ = 1;
        lastRemovedPath_ = interfacePath;
        ResetEvent(reArrival_.Get());
        if (tv::WaitWithMessagePump(reArrival_.Get(), kReArrivalWaitMs))
            return;
    }
    auto announced = devices_.end();
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        char strId[260] = {};
        if (SUCCEEDED(it->device->GetStrID(sizeof(strId), reinterpret_cast<unsigned char*>(strId))) && id == strId) {
            announced = it;
            break;
        }
    }
    if (announced == devices_.end())
        return;
    char name[260] = {};
    announced->device->GetName(sizeof(name), reinterpret_cast<unsigned char*>(name));
    // Messages ran during the wait: look the entry up afresh.
    const Entry* entry = FindEntryById(id);
    if (!entry || static_cast<unsigned long>(entry->presence) != 0)
        return;
    RemoveEntry(id);
    tv::com::ComPtr<IZvDevice> device = announced->device;
    devices_.erase(announced);
    device->ResetDeviceState(-1);
    device.Reset();
    sinks_.DeviceLost(kClsidZvFactory15, name);
}

} // namespace devlink15
