#include "McpDemux.h"

namespace devlink15 {
namespace {

constexpr auto kPeerSilenceLimit = std::chrono::milliseconds(5000);

} // namespace

XMCPDemux::XMCPDemux(ByteLink* link) : link_(link) {}

bool XMCPDemux::RegisterChannel(XMCPChannel* channel) {
    if (channel == nullptr)
        return false;
    std::lock_guard lock(lock_);
    XMCPChannel*& slot = channels_[channel->Number()];
    if (slot != nullptr && slot != channel)
        return false;
    slot = channel;
    return true;
}

bool XMCPDemux::UnregisterChannel(XMCPChannel* channel) {
    if (channel == nullptr)
        return false;
    std::lock_guard lock(lock_);
    XMCPChannel*& slot = channels_[channel->Number()];
    if (slot != channel)
        return false;
    slot = nullptr;
    return true;
}

bool XMCPDemux::IsMcpLinkDown() const {
    return link_ == nullptr || link_->IsStopped();
}

void XMCPDemux::MarkPeerAlive() {
    lastFrameStart_ = McpClock::now().time_since_epoch().count();
    peerAlive_ = true;
}

bool XMCPDemux::SendMcpFrame(uint8_t channel, uint8_t seq, uint8_t kind, const uint8_t* payload,
                             size_t length) {
    if (watchdogOn_) {
        const auto lastStart = McpClock::time_point(McpClock::duration(lastFrameStart_.load()));
        if (McpClock::now() - lastStart > kPeerSilenceLimit)
            peerAlive_ = false;
        if (!peerAlive_)
            return false;
    }
    if (link_ == nullptr)
        return false;
    McpEncodedFrame frame;
    if (!EncodeMcpFrame(kind, channel, seq, payload, length, frame))
        return false;
    std::lock_guard lock(sendMutex_);
    bool ok = true;
    for (size_t i = 0; i < frame.size; ++i)
        ok = link_->PutByte(frame.bytes[i]) && ok;
    return link_->FlushUsbWrite() && ok;
}

bool XMCPDemux::SendMcpControl(uint8_t channel, uint8_t code, uint8_t seq) {
    const uint8_t payload[kMcpMaxControlPayload] = {code, seq, 0, 0};
    return SendMcpFrame(channel, 0, kMcpControlFrame, payload, sizeof payload);
}

void XMCPDemux::WakeAllChannels() {
    std::lock_guard lock(lock_);
    for (XMCPChannel* channel : channels_)
        if (channel != nullptr)
            channel->WakeLocked();
}

void XMCPDemux::ResetReceiver() {
    std::lock_guard lock(lock_);
    BackToSeeking();
}

bool XMCPDemux::ReceiveMcpBytes(const uint8_t* bytes, size_t count) {
    if (bytes == nullptr && count > 0)
        return false;
    // The whole chunk is handled under the lock, so a channel cannot be unregistered (and
    // destroyed) between the lookup of its frame's header and the dispatch of the frame.
    std::lock_guard lock(lock_);
    for (size_t i = 0; i < count; ++i)
        ReceiveByte(bytes[i]);
    return true;
}

void XMCPDemux::BackToSeeking() {
    state_ = ReceiveState::SeekingHeader;
    syncCount_ = 0;
    headerCount_ = 0;
    crc_ = kMcpCrcInit;
}

void XMCPDemux::ReceiveByte(uint8_t byte) {
    switch (state_) {
    case ReceiveState::SeekingHeader:
        if (byte != kMcpSync) {
            syncCount_ = 0;
            return;
        }
        if (++syncCount_ < 2)
            return;
        crc_ = McpCrcFold(McpCrcFold(kMcpCrcInit, kMcpSync), kMcpSync);
        headerCount_ = 0;
        state_ = ReceiveState::Header;
        if (watchdogOn_)
            MarkPeerAlive();
        return;
    case ReceiveState::Header:
        // An "M" where the kind belongs continues a run of "M" bytes: stay synced on the last two.
        if (headerCount_ == 0 && byte == kMcpSync)
            return;
        header_[headerCount_++] = byte;
        crc_ = McpCrcFold(crc_, byte);
        if (headerCount_ == header_.size())
            CheckHeader();
        return;
    case ReceiveState::Payload:
        payload_[payloadCount_++] = byte;
        crc_ = McpCrcFold(crc_, byte);
        if (payloadCount_ == payloadLength_) {
            state_ = ReceiveState::Crc;
            crcCount_ = 0;
        }
        return;
    case ReceiveState::Crc:
        receivedCrc_ = (receivedCrc_ << 8) | byte;
        if (++crcCount_ < 4)
            return;
        if (~crc_ == receivedCrc_)
            Dispatch();
        BackToSeeking();
        return;
    }
}

void XMCPDemux::CheckHeader() {
    const uint8_t kind = header_[0];
    XMCPChannel* channel = channels_[header_[1]];
    const size_t length = (size_t{header_[3]} << 8) | header_[4];
    const size_t limit = McpPayloadLimit(kind);
    const bool passes = limit != 0 && channel != nullptr && length <= limit &&
                        (kind != kMcpDataFrame || channel->AcceptsDataLocked());
    if (!passes) {
        BackToSeeking();
        return;
    }
    payloadLength_ = length;
    payloadCount_ = 0;
    payload_.fill(0); // a short control payload reads as zeros
    crcCount_ = 0;
    receivedCrc_ = 0;
    state_ = length == 0 ? ReceiveState::Crc : ReceiveState::Payload;
}

void XMCPDemux::Dispatch() {
    XMCPChannel* channel = channels_[header_[1]];
    if (channel == nullptr)
        return;
    if (header_[0] == kMcpDataFrame)
        channel->DeliverDataLocked(header_[2], payload_.data(), payloadLength_);
    else
        channel->DeliverControlLocked(payload_[0], payload_[1]);
}

} // namespace devlink15
