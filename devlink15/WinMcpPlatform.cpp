#include "WinMcpPlatform.h"

#include "Handles.h"
#include "UsbDevices.h"
#include "XUsbLink.h"

#include <windows.h>

#include <mmsystem.h>

namespace devlink15 {
namespace {

class NamedMutexClaim : public DeviceClaim {
  public:
    explicit NamedMutexClaim(HANDLE mutex) : mutex_(mutex) {}

  private:
    tv::com::UniqueHandle mutex_;
};

class MultimediaTimerResolution : public TimerResolution {
  public:
    MultimediaTimerResolution() : held_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~MultimediaTimerResolution() override {
        if (held_)
            timeEndPeriod(1);
    }

  private:
    bool held_;
};

} // namespace

std::unique_ptr<UsbByteLink> WinMcpPlatform::CreateUsbLink() {
    return std::make_unique<XUsbLink>();
}

bool WinMcpPlatform::QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info) {
    return devlink15::QueryUsbDeviceInfo(deviceNumber, info);
}

std::unique_ptr<DeviceClaim> WinMcpPlatform::ClaimDevice(const std::string& shortId) {
    tv::com::UniqueHandle mutex(CreateMutexA(nullptr, FALSE, DeviceClaimName(shortId).c_str()));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS)
        return nullptr; // another port, in this or another process, holds the device
    return std::make_unique<NamedMutexClaim>(mutex.Detach());
}

std::unique_ptr<TimerResolution> WinMcpPlatform::HoldFineTimerResolution() {
    return std::make_unique<MultimediaTimerResolution>();
}

WinMcpPlatform& WinMcpPlatform::Instance() {
    static WinMcpPlatform platform;
    return platform;
}

} // namespace devlink15
