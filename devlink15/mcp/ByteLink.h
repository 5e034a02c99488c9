// The interfaces the MCP layer needs from the machine it runs on. The Windows side implements
// them over the device's USB driver, a named mutex and the multimedia timer; tests implement them
// in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace devlink15 {

class XMCPDemux;

// The byte stream towards the device, as the demultiplexer writes frames into it.
class ByteLink {
  public:
    virtual ~ByteLink() = default;
    // Appends one byte to the write buffer (4096 bytes); a full buffer is flushed and the flush
    // result returned.
    virtual bool PutByte(uint8_t byte) = 0;
    // Sends the buffered bytes with one write; true when every byte was written. The buffer is
    // empty afterwards in every case. Must return within a bounded time.
    virtual bool FlushUsbWrite() = 0;
    // The stop flag: true once the link has been stopped or has given up on the device.
    virtual bool IsStopped() const = 0;
};

// The whole USB link of one device: writing (ByteLink), opening, and the read thread that hands
// every received chunk to XMCPDemux::ReceiveMcpBytes.
class UsbByteLink : public ByteLink {
  public:
    // Opens the device with this device number, retrying as the platform does.
    virtual bool OpenUsbDevice(int deviceNumber) = 0;
    virtual void CloseUsbDevice() = 0;
    // Clears the stop flag and starts the read thread, which reads at most receiveBufferSize
    // bytes at a time into a buffer the link owns and passes them to receiver.ReceiveMcpBytes.
    virtual bool StartReadThread(XMCPDemux& receiver, size_t receiveBufferSize) = 0;
    // Sets the stop flag and cancels pending I/O. When it returns, the receiver is not called
    // again and the read thread no longer touches the receive buffer.
    virtual void Stop() = 0;
};

// The device information record: 22 UTF-16 characters read from the driver.
struct UsbDeviceInfo {
    int type = 0;         // 1 for "T", 0 otherwise
    std::string deviceId; // 12 characters
    std::string shortId;  // 7 characters
};

// System-wide claim of one device; released when destroyed.
class DeviceClaim {
  public:
    virtual ~DeviceClaim() = default;
};

// A 1 ms system timer resolution, held while the object lives.
class TimerResolution {
  public:
    virtual ~TimerResolution() = default;
};

class McpPlatform {
  public:
    virtual ~McpPlatform() = default;
    virtual std::unique_ptr<UsbByteLink> CreateUsbLink() = 0;
    virtual bool QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info) = 0;
    // Claims the device named by its short id (on Windows, creating the mutex named
    // DeviceClaimName(shortId)); null when another port, in any process, holds it.
    virtual std::unique_ptr<DeviceClaim> ClaimDevice(const std::string& shortId) = 0;
    // May return null where the platform has nothing to adjust.
    virtual std::unique_ptr<TimerResolution> HoldFineTimerResolution() = 0;
};

} // namespace devlink15
