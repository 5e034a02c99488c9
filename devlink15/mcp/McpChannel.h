// One direction of one pipe: the channel number, the sequence number, the frame buffers, the ring
// of control replies from the device and the news signal the pipe waits on.
//
// Every field below the demultiplexer pointer is guarded by the demultiplexer's lock, which the
// receiver holds while it dispatches frames; the pipe halves (friends) take it around every use.
#pragma once

#include "McpFrame.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace devlink15 {

class XMCPDemux;
using McpClock = std::chrono::steady_clock;

inline constexpr uint32_t kPipeClosed = 1; // state bit 0: closed or failed

struct McpControlReply {
    uint8_t seq = 0;
    uint8_t code = 0;
};

class XMCPChannel {
  public:
    static constexpr size_t kRingSize = 5;

    // Resets the channel and registers it; when registration fails the channel keeps no
    // demultiplexer and every operation of its pipe fails.
    XMCPChannel(XMCPDemux* demux, uint8_t number);
    // Tells the device (code 5) and unregisters.
    ~XMCPChannel();
    XMCPChannel(const XMCPChannel&) = delete;
    XMCPChannel& operator=(const XMCPChannel&) = delete;

    uint8_t Number() const { return number_; }
    XMCPDemux* Demux() const { return demux_; }
    // No demultiplexer, or the link below is down.
    bool IsLinkDown() const;

    uint32_t GetState() const;
    void SetState(uint32_t state);

    // Back to sequence 0 with nothing pending, not closed.
    void ResetMcpChannel();
    // Code 4 for this channel, when the link is up.
    bool SendMcpReset();
    // Code 5 `count` times, `pause` apart; false when there is no demultiplexer or a send fails.
    bool SendMcpClose(int count, std::chrono::milliseconds pause);
    bool SendMcpControl(uint8_t code, uint8_t seq);
    // Takes the oldest control reply; false when none waits.
    bool PopMcpControl(McpControlReply& reply);

    // Receiver side, called by the demultiplexer with its lock held.
    bool AcceptsDataLocked() const;
    void DeliverDataLocked(uint8_t seq, const uint8_t* payload, size_t length);
    void DeliverControlLocked(uint8_t code, uint8_t seq);
    void WakeLocked() { news_.notify_all(); }

  private:
    friend class XMCPInputPipe;
    friend class XMCPOutputPipe;

    std::unique_lock<std::mutex> Lock() const;
    void ResetLocked();
    bool ClosedLocked() const { return (state_ & kPipeClosed) != 0; }
    bool PopLocked(McpControlReply& reply);
    // Waits until ready() holds, the link goes down or the deadline passes; the link is checked
    // at least every 500 ms. Returns ready().
    template <class Ready>
    bool WaitForNews(std::unique_lock<std::mutex>& lock, McpClock::time_point deadline, Ready ready);

    XMCPDemux* demux_ = nullptr;
    const uint8_t number_;

    uint8_t seq_ = 0; // next sequence number expected (input) or sent (output)
    uint32_t state_ = 0;
    std::array<uint8_t, kMcpMaxDataPayload> current_{};
    std::array<uint8_t, kMcpMaxDataPayload> spare_{};
    size_t spareLength_ = 0;
    bool spareReady_ = false; // the spare holds the expected frame, not yet taken
    size_t readPosition_ = 0;
    size_t dataLength_ = 0;
    std::array<McpControlReply, kRingSize> ring_{};
    size_t ringWrite_ = 0;
    size_t ringCount_ = 0;
    std::condition_variable news_;
};

template <class Ready>
bool XMCPChannel::WaitForNews(std::unique_lock<std::mutex>& lock, McpClock::time_point deadline,
                              Ready ready) {
    constexpr auto kSlice = std::chrono::milliseconds(500);
    while (!ready()) {
        if (IsLinkDown())
            return false;
        const auto now = McpClock::now();
        if (now >= deadline)
            return false;
        news_.wait_until(lock, std::min(deadline, now + kSlice));
    }
    return true;
}

} // namespace devlink15
