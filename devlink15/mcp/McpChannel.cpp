#include "McpChannel.h"

#include "McpDemux.h"

#include <thread>

namespace devlink15 {

XMCPChannel::XMCPChannel(XMCPDemux* demux, uint8_t number) : number_(number) {
    ResetLocked();
    if (demux != nullptr) {
        demux_ = demux;
        if (!demux->RegisterChannel(this))
            demux_ = nullptr;
    }
}

XMCPChannel::~XMCPChannel() {
    if (demux_ == nullptr)
        return;
    if (!demux_->IsMcpLinkDown())
        demux_->SendMcpControl(number_, kMcpCloseChannel, 0);
    demux_->UnregisterChannel(this);
}

bool XMCPChannel::IsLinkDown() const {
    return demux_ == nullptr || demux_->IsMcpLinkDown();
}

std::unique_lock<std::mutex> XMCPChannel::Lock() const {
    return std::unique_lock<std::mutex>(demux_->lock_);
}

uint32_t XMCPChannel::GetState() const {
    if (demux_ == nullptr)
        return kPipeClosed;
    auto lock = Lock();
    return state_;
}

void XMCPChannel::SetState(uint32_t state) {
    if (demux_ == nullptr)
        return;
    auto lock = Lock();
    state_ = state;
    news_.notify_all();
}

void XMCPChannel::ResetMcpChannel() {
    if (demux_ == nullptr)
        return;
    auto lock = Lock();
    ResetLocked();
}

void XMCPChannel::ResetLocked() {
    state_ &= ~kPipeClosed;
    seq_ = 0;
    readPosition_ = 0;
    dataLength_ = 0;
    spareReady_ = false;
    spareLength_ = 0;
    ringWrite_ = 0;
    ringCount_ = 0;
}

bool XMCPChannel::SendMcpReset() {
    if (IsLinkDown())
        return false;
    return demux_->SendMcpControl(number_, kMcpResetChannel, 0);
}

bool XMCPChannel::SendMcpClose(int count, std::chrono::milliseconds pause) {
    for (int i = 0; i < count; ++i) {
        if (demux_ == nullptr || !demux_->SendMcpControl(number_, kMcpCloseChannel, 0))
            return false;
        if (i + 1 < count)
            std::this_thread::sleep_for(pause);
    }
    return true;
}

bool XMCPChannel::SendMcpControl(uint8_t code, uint8_t seq) {
    return demux_ != nullptr && demux_->SendMcpControl(number_, code, seq);
}

bool XMCPChannel::PopMcpControl(McpControlReply& reply) {
    if (demux_ == nullptr)
        return false;
    auto lock = Lock();
    return PopLocked(reply);
}

bool XMCPChannel::PopLocked(McpControlReply& reply) {
    if (ringCount_ == 0)
        return false;
    reply = ring_[(ringWrite_ + kRingSize - ringCount_) % kRingSize];
    --ringCount_;
    return true;
}

bool XMCPChannel::AcceptsDataLocked() const {
    return !spareReady_ && !ClosedLocked();
}

void XMCPChannel::DeliverDataLocked(uint8_t seq, const uint8_t* payload, size_t length) {
    // Only the frame the pipe asks for is kept; any other number is dropped and asked for again.
    if (!AcceptsDataLocked() || seq != seq_ || length > spare_.size())
        return;
    std::copy(payload, payload + length, spare_.begin());
    spareLength_ = length;
    spareReady_ = true;
    news_.notify_all();
}

void XMCPChannel::DeliverControlLocked(uint8_t code, uint8_t seq) {
    switch (code) {
    case kMcpCloseChannel:
        if (!ClosedLocked()) {
            state_ |= kPipeClosed;
            news_.notify_all();
        }
        break;
    case kMcpResetChannel:
        ResetLocked();
        news_.notify_all();
        break;
    case kMcpRequest:
    case kMcpFinalAck:
        if (ClosedLocked() || ringCount_ >= kRingSize)
            break;
        ring_[ringWrite_] = McpControlReply{seq, code};
        ringWrite_ = (ringWrite_ + 1) % kRingSize;
        ++ringCount_;
        news_.notify_all();
        break;
    default:
        break;
    }
}

} // namespace devlink15
