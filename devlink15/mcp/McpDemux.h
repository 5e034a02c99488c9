// The PC side of the MCP protocol on one device link: writes frames into the byte link, finds
// and checks frames in the received bytes and hands each good one to the channel registered for
// its number.
#pragma once

#include "ByteLink.h"
#include "McpChannel.h"
#include "McpFrame.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace devlink15 {

class XMCPDemux {
  public:
    explicit XMCPDemux(ByteLink* link);
    XMCPDemux(const XMCPDemux&) = delete;
    XMCPDemux& operator=(const XMCPDemux&) = delete;

    // False for a null channel or a number already taken by another channel.
    bool RegisterChannel(XMCPChannel* channel);
    bool UnregisterChannel(XMCPChannel* channel);

    bool SendMcpFrame(uint8_t channel, uint8_t seq, uint8_t kind, const uint8_t* payload, size_t length);
    bool SendMcpControl(uint8_t channel, uint8_t code, uint8_t seq);
    bool IsMcpLinkDown() const;

    // Feeds one received chunk through the frame receiver (read thread only).
    bool ReceiveMcpBytes(const uint8_t* bytes, size_t count);
    // Forgets a partly received frame; used when the link is (re)connected.
    void ResetReceiver();
    // Wakes every waiting pipe so that it looks at the link again.
    void WakeAllChannels();

    // Peer watchdog: when on, sending fails once no frame start was seen for 5000 ms.
    void SetWatchdog(bool on) { watchdogOn_ = on; }
    void MarkPeerAlive();

  private:
    friend class XMCPChannel;

    enum class ReceiveState { SeekingHeader, Header, Payload, Crc };

    void ReceiveByte(uint8_t byte);
    void CheckHeader();
    void Dispatch();
    void BackToSeeking();

    ByteLink* link_;
    std::mutex sendMutex_;
    // Guards the channel table, every channel's fields and the receiver's state.
    mutable std::mutex lock_;
    std::array<XMCPChannel*, 256> channels_{};

    ReceiveState state_ = ReceiveState::SeekingHeader;
    int syncCount_ = 0;
    std::array<uint8_t, 5> header_{}; // kind, channel, seq, length high, length low
    size_t headerCount_ = 0;
    size_t payloadLength_ = 0;
    size_t payloadCount_ = 0;
    std::array<uint8_t, kMcpMaxDataPayload> payload_{};
    uint32_t crc_ = kMcpCrcInit;
    uint32_t receivedCrc_ = 0;
    int crcCount_ = 0;

    std::atomic<bool> watchdogOn_{true};
    std::atomic<bool> peerAlive_{false};
    std::atomic<McpClock::rep> lastFrameStart_{0};
};

} // namespace devlink15
