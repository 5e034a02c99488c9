// ZvFactory15Me: the device factory of this generation on Windows Me, inert elsewhere. A device
// notification only opens a scanning period; meanwhile a watcher thread compares the present
// devices with the accepted ones once a second and posts a message to the factory's window for
// each new and each vanished device, which the factory's own thread then identifies or drops.
#pragma once

#include "ComObject.h"
#include "FactoryDevice.h"
#include "FactorySupport.h"
#include "Handles.h"
#include "NotificationWindow.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devlink15 {

class ZvFactory15Me : public tv::com::ComObject<ZvFactory15Me, IZvFactory> {
  public:
    static constexpr UINT kNewDeviceMessage = 0x8096;  // wParam: device number
    static constexpr UINT kGoneDeviceMessage = 0x8097; // lParam: task-allocated string id
    static constexpr UINT kResumeMessage = 0x8140;
    static constexpr UINT kSuspendMessage = 0x8141;

    ZvFactory15Me();
    explicit ZvFactory15Me(DeviceMaker maker);
    ~ZvFactory15Me() override;
    HRESULT FinalConstruct();

    STDMETHODIMP SetLangId(long nLangId) override;
    STDMETHODIMP Advise(IZvFactoryCallback* piCallback, long* nCookie) override;
    STDMETHODIMP UnAdvise(long nCookie) override;
    STDMETHODIMP GetVirtualDevice(LPSTR strNameOrId, IZvDevice** ppiDevice) override;
    STDMETHODIMP DeleteVirtualDevice(LPSTR strNameOrId, IZvDevice* piDevice) override;

    bool IsActive() const { return active_; }
    HWND Window() const { return window_.Handle(); }
    size_t DeviceCount() const { return devices_.size(); }

  private:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    HRESULT IdentifyDevice(int deviceNumber);
    void DropDevice(const std::string& id);
    void ForgetId(const std::string& id);

    void WatcherProc();
    void PulseProc();
    void RequestPulse();
    // The watcher's device queries: each waits for the settle event first.
    bool WaitToQuery();
    // Waits for the handle or the stop event; false when stopping (or after the time-out).
    bool WaitOrStop(HANDLE handle, DWORD timeoutMs);

    DeviceMaker maker_;
    bool active_ = false;
    FactorySinks sinks_;
    std::vector<tv::com::ComPtr<IZvDevice>> devices_;

    std::mutex listLock_;
    std::vector<std::string> knownIds_; // guarded by listLock_

    tv::com::UniqueHandle settle_;  // reset by notifications; the watcher's queries wait for it
    tv::com::UniqueHandle scanGate_; // open while a scanning period lasts
    tv::com::UniqueHandle running_;  // cleared while the watcher is suspended
    tv::com::UniqueHandle stop_;     // set at shut-down: the watcher and the pulses end
    tv::com::UniqueHandle pulseRequested_;
    std::mutex pulseLock_;
    int pendingPulses_ = 0; // guarded by pulseLock_
    NotificationWindow window_;
    std::thread watcher_;
    std::thread pulses_;
};

} // namespace devlink15
