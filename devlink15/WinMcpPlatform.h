// The machine below the MCP layer on Windows: the USB link, the device information, the named
// mutex that claims a device system-wide and the 1 ms multimedia timer resolution.
#pragma once

#include "ByteLink.h"

namespace devlink15 {

class WinMcpPlatform : public McpPlatform {
  public:
    std::unique_ptr<UsbByteLink> CreateUsbLink() override;
    bool QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info) override;
    std::unique_ptr<DeviceClaim> ClaimDevice(const std::string& shortId) override;
    std::unique_ptr<TimerResolution> HoldFineTimerResolution() override;

    // The one instance every link of the module uses.
    static WinMcpPlatform& Instance();
};

} // namespace devlink15
