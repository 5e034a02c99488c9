// ZvFactory10: finds devices of the 1.0 generation on the COM ports. A detection thread with its
// own port probes COM1 to COM9 in rounds, identifies each device, has a device never seen before
// named, and hands a found device to the factory's window, which makes its device object on the
// factory's thread and reports it to every advised hub callback. A device object that loses its
// device posts the loss to the same window.
#pragma once
#include "ComObject.h"
#include "ComPtr.h"
#include "Device10Support.h"
#include "Handles.h"
#include "SharedInstance.h"
#include "ZelvanMgr.h"
#include "ZvDevice.h"
#include "ZvPort.h"

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace devlink10 {

extern const CLSID kClsidZvFactory10;

// Asks the user to name a device seen for the first time and writes its settings; runs on the
// detection thread. Tests replace it.
using DeviceNamer = std::function<void(const std::string& id)>;
void NameNewDevice(const std::string& id);

class ZvFactory10 : public tv::com::SharedComObject<ZvFactory10, IZvFactory>, public DeviceLostSink {
public:
    explicit ZvFactory10(tv::com::SharedInstance<ZvFactory10>& slot, DeviceNamer namer = &NameNewDevice,
                         DWORD roundPauseMs = 5000);
    ~ZvFactory10() override;
    HRESULT FinalConstruct();

    STDMETHODIMP SetLangId(long nLangId) override;
    STDMETHODIMP Advise(IZvFactoryCallback* piCallback, long* nCookie) override;
    STDMETHODIMP UnAdvise(long nCookie) override;
    STDMETHODIMP GetVirtualDevice(LPSTR strNameOrId, IZvDevice** ppiDevice) override;
    STDMETHODIMP DeleteVirtualDevice(LPSTR strNameOrId, IZvDevice* piDevice) override;

    // DeviceLostSink: posted to the factory's window.
    void PostDeviceLost(long port, const std::string& name) override;

private:
    static constexpr int kSlots = 10;

    void DetectionThread();
    void ProbePort(IZvPort* port, int number);
    bool SleepUnlessStopped(DWORD ms);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnDeviceArrived(const DeviceSlot& slot);
    void OnDeviceLost(long port, const std::string& name);
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> Callbacks() const;

    DeviceNamer namer_;
    DWORD roundPauseMs_;
    long langId_ = 0;
    mutable std::mutex mutex_; // guards the slots' devices and ids, and the callbacks
    std::array<tv::com::ComPtr<IZvDevice>, kSlots> devices_;
    std::array<std::string, kSlots> knownIds_;
    std::array<DWORD, kSlots> holdOffUntil_{};
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> callbacks_;
    tv::com::UniqueWindow window_;
    tv::com::UniqueHandle stop_;
    tv::com::UniqueHandle detection_;
    // The detection thread's port while the thread runs, for cancelling its request on stop.
    std::mutex probeMutex_;
    IZvPort* probePort_ = nullptr;
};

} // namespace devlink10
