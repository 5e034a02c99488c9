// One MCP connection with one device: the device claim, the USB link, the demultiplexer that
// receives everything the link reads, and the factory of numbered pipes.
#pragma once

#include "ByteLink.h"
#include "McpDemux.h"
#include "PipeFactory.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace devlink15 {

class XMCPLink {
  public:
    static constexpr size_t kReceiveBufferSize = 1000;

    explicit XMCPLink(McpPlatform& platform);
    ~XMCPLink();
    XMCPLink(const XMCPLink&) = delete;
    XMCPLink& operator=(const XMCPLink&) = delete;

    // Claims the device with this device number and starts reading from it.
    bool ConnectMcpLink(int deviceNumber);
    // Stops reading, closes the device and releases the claim.
    bool DisconnectMcpLink();
    bool IsConnected() const { return connected_; }
    XMCPPipeFactory& PipeFactory() { return *factory_; }
    XMCPDemux& Demux() { return *demux_; }

  private:
    McpPlatform& platform_;
    std::mutex connectMutex_;
    std::atomic<bool> connected_{false};
    std::unique_ptr<TimerResolution> timerResolution_;
    std::unique_ptr<UsbByteLink> usb_;
    std::unique_ptr<XMCPDemux> demux_;
    std::unique_ptr<XMCPPipeFactory> factory_;
    std::unique_ptr<DeviceClaim> claim_;
};

} // namespace devlink15
