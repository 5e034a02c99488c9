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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace devlink10 {

extern const CLSID kClsidZvFactory10;

// Asks the user to name a device seen for the first time and writes its settings; runs on the
// detection thread. Once `stop` is set (the factory is ending; null: never) it gives up and
// writes nothing; the factory's end also sends the thread a quit message, which closes any
// dialog it shows. Tests replace it.
using DeviceNamer = std::function<void(const std::string& id, HANDLE stop)>;
void NameNewDevice(const std::string& id, HANDLE stop = nullptr);

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
    class Detection;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnDeviceArrived(const DeviceSlot& slot);
    void OnDeviceLost(long port, const std::string& name);
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> Callbacks() const;

    DeviceNamer namer_;
    DWORD roundPauseMs_;
    long langId_ = 0;
    mutable std::mutex mutex_; // guards the slots' devices and the callbacks
    std::array<tv::com::ComPtr<IZvDevice>, kSlots> devices_;
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> callbacks_;
    tv::com::UniqueWindow window_;
    // What the detection thread shares with the factory; the thread keeps its own share.
    std::shared_ptr<Detection> detection_;
    tv::com::UniqueHandle detectionThread_;
    DWORD detectionThreadId_ = 0;
};

} // namespace devlink10
