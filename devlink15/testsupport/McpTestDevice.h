// Test infrastructure: an in-memory USB link and a scripted device that speaks the device side of
// the MCP pipe handshake, with switches for the faults a real link shows.
#pragma once

#include "ByteLink.h"
#include "McpDemux.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace devlink15::test {

using Bytes = std::vector<uint8_t>;

// The device's own frame checksum, bit by bit, so the product's table code is checked against it.
uint32_t BitwiseCrc32(const uint8_t* data, size_t length);
Bytes MakeFrame(uint8_t kind, uint8_t channel, uint8_t seq, const Bytes& payload);
Bytes MakeControl(uint8_t channel, uint8_t code, uint8_t seq);

struct HostFrame {
    uint8_t kind;
    uint8_t channel;
    uint8_t seq;
    size_t length;
    uint8_t code; // control frames: payload bytes 0 and 1
    uint8_t codeSeq;
};

class ScriptedDevice {
  public:
    ScriptedDevice();
    ~ScriptedDevice();

    // --- the wire
    bool HostWrite(const Bytes& bytes);
    // Everything the device has sent since the last call; waits up to `wait` for something.
    bool TakeBytesForHost(Bytes& bytes, std::chrono::milliseconds wait);
    bool IsPlugged() const { return plugged_; }
    void Unplug();

    // --- script
    void QueueData(int pipe, const Bytes& data); // sent to the host as it asks for it
    void CloseWhenDrained(int pipe);             // code 5 on the pipe's input channel once sent
    void SendControl(uint8_t channel, uint8_t code, uint8_t seq);
    void SendRaw(const Bytes& bytes);
    // The device starts the pipe afresh (as after its own restart) and tells the host with code 4
    // on both channels.
    void RestartPipe(int pipe);
    // The device asks for the host's data on this pipe, and repeats its request every period.
    void Accept(int pipe, bool accept);
    Bytes Received(int pipe);
    bool WaitReceived(int pipe, size_t count, std::chrono::milliseconds wait);
    std::vector<HostFrame> HostFrames();
    bool WaitHostFrame(const std::function<bool(const HostFrame&)>& match, std::chrono::milliseconds wait);

    // --- faults and behaviour switches
    std::atomic<int> dropDataFromHost{0};     // ignore the next n data frames
    std::atomic<int> dropRequestsFromHost{0}; // ignore the next n requests (code 2)
    std::atomic<int> corruptToHost{0};        // flip a CRC bit in the next n frames sent
    std::atomic<int> dropToHost{0};           // lose the next n frames sent
    std::atomic<bool> finalAcks{false};       // acknowledge with code 3 and ask again only on the timer
    std::atomic<int> requestPeriodMs{30};

  private:
    struct OutPipe { // device to host
        std::deque<uint8_t> pending;
        std::optional<Bytes> inFlight;
        uint8_t seq = 0;
        bool requested = false;
        bool closeWhenDrained = false;
        bool closeSent = false;
    };
    struct InPipe { // host to device
        bool accepting = false;
        uint8_t seq = 0;
        Bytes received;
    };

    void Run();
    void ParseHostBytesLocked();
    void HandleFrameLocked(const HostFrame& frame, const Bytes& payload);
    void ServeRequestLocked(int pipe);
    void SendFrameLocked(const Bytes& frame);
    void SendControlLocked(uint8_t channel, uint8_t code, uint8_t seq);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> plugged_{true};
    bool stopping_ = false;
    Bytes fromHost_;
    Bytes toHost_;
    std::vector<HostFrame> hostFrames_;
    std::map<int, OutPipe> out_;
    std::map<int, InPipe> in_;
    std::thread thread_;
};

class TestPlatform;

class MemoryUsbLink : public UsbByteLink {
  public:
    explicit MemoryUsbLink(TestPlatform& platform) : platform_(platform) {}
    ~MemoryUsbLink() override;

    bool PutByte(uint8_t byte) override;
    bool FlushUsbWrite() override;
    bool IsStopped() const override { return stopped_; }
    bool OpenUsbDevice(int deviceNumber) override;
    void CloseUsbDevice() override;
    bool StartReadThread(XMCPDemux& receiver, size_t receiveBufferSize) override;
    void Stop() override;

  private:
    void ReadLoop(XMCPDemux* receiver, size_t bufferSize);

    TestPlatform& platform_;
    std::mutex deviceMutex_;
    ScriptedDevice* device_ = nullptr;
    Bytes writeBuffer_;
    std::atomic<bool> stopped_{true};
    std::thread reader_;
};

class TestPlatform : public McpPlatform {
  public:
    void AddDevice(int number, UsbDeviceInfo info, ScriptedDevice* device);
    ScriptedDevice* DeviceAt(int number);

    std::unique_ptr<UsbByteLink> CreateUsbLink() override;
    bool QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info) override;
    std::unique_ptr<DeviceClaim> ClaimDevice(const std::string& shortId) override;
    std::unique_ptr<TimerResolution> HoldFineTimerResolution() override;

    std::atomic<int> timerHolds{0};
    std::atomic<int> splitMax{0}; // >0: received bytes reach the demultiplexer in pieces of 1..splitMax
    std::atomic<int> failOpens{0};

  private:
    friend class Claim;
    std::mutex mutex_;
    std::map<int, std::pair<UsbDeviceInfo, ScriptedDevice*>> devices_;
    std::set<std::string> claims_;
};

} // namespace devlink15::test
