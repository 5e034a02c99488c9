// The USB byte link of one device: a 4096-byte write buffer sent with one write request, and a
// read thread that keeps one read request pending and hands every chunk to the demultiplexer.
// When a read fails the thread looks for the same device (by its device id) and reopens it.
#pragma once

#include "ByteLink.h"
#include "Handles.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace devlink15 {

class XUsbLink : public UsbByteLink {
  public:
    static constexpr size_t kWriteBufferSize = 4096;

    XUsbLink();
    ~XUsbLink() override;
    XUsbLink(const XUsbLink&) = delete;
    XUsbLink& operator=(const XUsbLink&) = delete;

    bool PutByte(uint8_t byte) override;
    bool FlushUsbWrite() override;
    bool IsStopped() const override { return stopped_; }

    bool OpenUsbDevice(int deviceNumber) override;
    void CloseUsbDevice() override;
    bool StartReadThread(XMCPDemux& receiver, size_t receiveBufferSize) override;
    void Stop() override;

    bool IsOpen() const;
    std::string DeviceId() const;

  private:
    // One attempt at most every 100 ms; false when the attempts run out or the link is stopped.
    // With stopAware, Stop() also ends the pauses between attempts.
    HANDLE OpenWithRetries(int deviceNumber, bool stopAware);
    void ReadThreadProc(XMCPDemux& receiver, size_t receiveBufferSize);
    enum class ReadOutcome { Received, Failed, Stopped, Abandoned };
    ReadOutcome WaitForRead(HANDLE device, OVERLAPPED& overlapped, DWORD& received);
    // After a failed read: reopens the same device, or stops the link. True when reading goes on.
    bool Reconnect(XMCPDemux& receiver);
    bool OpenAndIdentify(int deviceNumber, bool stopAware);
    HANDLE CurrentHandle() const;

    // Guards the device handle; a write holds it for the whole request, so the handle cannot be
    // closed or swapped under a write.
    mutable std::mutex handleMutex_;
    tv::com::UniqueFileHandle device_;
    std::string deviceId_;

    std::atomic<bool> stopped_{true};
    tv::com::UniqueHandle stopEvent_; // manual reset, set by Stop(); ends every wait of the read thread
    tv::com::UniqueHandle writeEvent_;
    OVERLAPPED writeOverlapped_{}; // a member: a write abandoned after its time-out stays valid

    // Serialised by the demultiplexer's send lock.
    std::array<uint8_t, kWriteBufferSize> writeBuffer_{};
    size_t writeCount_ = 0;

    std::mutex threadMutex_;
    std::thread readThread_;
};

} // namespace devlink15
