#include "McpPipe.h"

#include "McpDemux.h"

#include <algorithm>
#include <cstring>

namespace devlink15 {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kFastPoll(100);  // before the first frame and after a failed wait
constexpr milliseconds kSlowPoll(5000); // while frames are flowing
constexpr milliseconds kNoLimit(0x7FFFFFFF);

std::atomic<uint32_t> nextPipeSerial{1};

} // namespace

IPipe::IPipe() : serial_(nextPipeSerial++) {}

milliseconds IPipe::TimeBudget() const {
    const uint32_t timeout = Timeout();
    return timeout == 0 ? kNoLimit : milliseconds(timeout);
}

std::optional<uint16_t> IInputPipe::ReadWord() {
    const int high = ReadByte();
    const int low = ReadByte();
    if (high < 0 || low < 0)
        return std::nullopt;
    return static_cast<uint16_t>((high << 8) | low);
}

std::optional<uint32_t> IInputPipe::ReadLong() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int byte = ReadByte();
        if (byte < 0)
            return std::nullopt;
        value = (value << 8) | static_cast<uint32_t>(byte);
    }
    return value;
}

int IInputPipe::ReadString(char* buffer, int max) {
    if (buffer == nullptr || max < 1)
        return 0;
    int length = 0;
    while (length < max - 1) {
        const int byte = ReadByte();
        if (byte <= 0)
            break;
        buffer[length++] = static_cast<char>(byte);
    }
    buffer[length] = '\0';
    return length;
}

bool IOutputPipe::WriteWord(uint16_t value) {
    return WriteByte(static_cast<uint8_t>(value >> 8)) && WriteByte(static_cast<uint8_t>(value));
}

bool IOutputPipe::WriteLong(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        if (!WriteByte(static_cast<uint8_t>(value >> shift)))
            return false;
    return true;
}

bool IOutputPipe::WriteString(const char* text) {
    if (text == nullptr)
        return false;
    const int length = static_cast<int>(std::strlen(text)) + 1;
    return Write(reinterpret_cast<const uint8_t*>(text), length) == length;
}

// ---------------------------------------------------------------------------------------------

XMCPInputPipe::XMCPInputPipe(XMCPDemux* demux, uint8_t channel) : channel_(demux, channel) {
    Reset();
}

void XMCPInputPipe::Reset() {
    channel_.ResetMcpChannel();
    pollInterval_ = kFastPoll;
    lastRequest_ = McpClock::now();
}

size_t XMCPInputPipe::TakeBuffered(uint8_t* buffer, size_t count) {
    auto lock = channel_.Lock();
    const size_t n = std::min(count, channel_.dataLength_ - channel_.readPosition_);
    std::copy_n(channel_.current_.begin() + channel_.readPosition_, n, buffer);
    channel_.readPosition_ += n;
    return n;
}

int XMCPInputPipe::Read(uint8_t* buffer, int count) {
    if (channel_.IsLinkDown())
        return -1;
    if (count < 1 || buffer == nullptr)
        return 0;
    size_t delivered = 0;
    const auto wanted = static_cast<size_t>(count);
    while (true) {
        delivered += TakeBuffered(buffer + delivered, wanted - delivered);
        if (delivered == wanted || WaitInputFrame() < 0)
            break;
    }
    return static_cast<int>(delivered);
}

int XMCPInputPipe::ReadByte() {
    if (channel_.IsLinkDown())
        return -1;
    uint8_t byte = 0;
    if (TakeBuffered(&byte, 1) == 1)
        return byte;
    // A frame of length 0 is acknowledged and skipped over like a failed wait.
    if (WaitInputFrame() < 0 || TakeBuffered(&byte, 1) != 1)
        return -1;
    return byte;
}

int XMCPInputPipe::WaitInputFrame() {
    if (channel_.IsLinkDown())
        return -1;
    const milliseconds budget = TimeBudget();
    auto lock = channel_.Lock();
    auto frameReady = [this] { return channel_.spareReady_; };
    auto newsArrived = [this] { return channel_.spareReady_ || channel_.ClosedLocked(); };
    auto fail = [this] {
        pollInterval_ = kFastPoll;
        return -1;
    };

    // A frame that arrived before the device closed the pipe is still delivered.
    if (!frameReady() && channel_.ClosedLocked())
        return fail();
    channel_.readPosition_ = 0;
    channel_.dataLength_ = 0;

    // The request sent after the previous frame already asked for this one.
    if (Timeout() != 0)
        channel_.WaitForNews(lock, lastRequest_ + std::min(pollInterval_, budget), newsArrived);

    if (!frameReady()) {
        const auto deadline = McpClock::now() + budget;
        while (!frameReady()) {
            if (McpClock::now() >= deadline || channel_.ClosedLocked() || channel_.IsLinkDown())
                return fail();
            const uint8_t expected = channel_.seq_;
            lock.unlock();
            channel_.SendMcpControl(kMcpRequest, expected);
            lock.lock();
            channel_.WaitForNews(lock, std::min(deadline, McpClock::now() + pollInterval_), newsArrived);
        }
    }

    std::swap(channel_.current_, channel_.spare_);
    channel_.dataLength_ = channel_.spareLength_;
    channel_.readPosition_ = 0;
    channel_.spareReady_ = false;
    channel_.seq_ = static_cast<uint8_t>(channel_.seq_ + 1);
    const size_t length = channel_.dataLength_;
    const uint8_t next = channel_.seq_;
    const bool closed = channel_.ClosedLocked();
    lock.unlock();

    // Acknowledges this frame and asks for the next one.
    if (!closed)
        channel_.SendMcpControl(kMcpRequest, next);
    lastRequest_ = McpClock::now();
    if (length == 0)
        return fail();
    pollInterval_ = kSlowPoll;
    return static_cast<int>(length);
}

// ---------------------------------------------------------------------------------------------

XMCPOutputPipe::XMCPOutputPipe(XMCPDemux* demux, uint8_t channel) : channel_(demux, channel) {
    Reset();
}

void XMCPOutputPipe::Reset() {
    channel_.ResetMcpChannel();
    count_ = 0;
}

int XMCPOutputPipe::Write(const uint8_t* buffer, int count) {
    if (buffer == nullptr || count < 1 || IsClosed())
        return 0;
    size_t accepted = 0;
    const auto total = static_cast<size_t>(count);
    while (accepted < total) {
        if (count_ == buffer_.size() && !FlushOutputPipe())
            break;
        const size_t n = std::min(buffer_.size() - count_, total - accepted);
        std::copy_n(buffer + accepted, n, buffer_.begin() + count_);
        count_ += n;
        accepted += n;
        // A full buffer goes out at once. When that fails the bytes stay buffered, and they
        // count as accepted: the next flush sends them.
        if (count_ == buffer_.size() && !FlushOutputPipe())
            break;
    }
    return static_cast<int>(accepted);
}

bool XMCPOutputPipe::WriteByte(uint8_t byte) {
    if (IsClosed())
        return false;
    if (count_ == buffer_.size() && !FlushOutputPipe())
        return false;
    buffer_[count_++] = byte;
    return true;
}

bool XMCPOutputPipe::FlushOutputPipe() {
    if (count_ == 0)
        return true;
    if (channel_.IsLinkDown() || IsClosed())
        return false;
    const auto deadline = McpClock::now() + TimeBudget();
    auto lock = channel_.Lock();
    auto newsArrived = [this] { return channel_.ringCount_ > 0 || channel_.ClosedLocked(); };
    while (true) {
        if (!channel_.WaitForNews(lock, deadline, newsArrived) || channel_.ClosedLocked())
            return false;
        const uint8_t own = channel_.seq_;
        const uint8_t following = static_cast<uint8_t>(own + 1);
        McpControlReply reply =
            channel_.ring_[(channel_.ringWrite_ + XMCPChannel::kRingSize - channel_.ringCount_) %
                           XMCPChannel::kRingSize];
        // A request for the following frame stays queued: it opens the next flush at once.
        if (!(reply.code == kMcpRequest && reply.seq == following))
            channel_.PopLocked(reply);

        if (reply.code == kMcpRequest && reply.seq == own) {
            lock.unlock();
            channel_.Demux()->SendMcpFrame(channel_.Number(), own, kMcpDataFrame, buffer_.data(), count_);
            lock.lock();
            continue;
        }
        if ((reply.code == kMcpRequest && reply.seq == following) ||
            (reply.code == kMcpFinalAck && reply.seq == own)) {
            channel_.seq_ = following;
            count_ = 0;
            return true;
        }
        // Anything else (an older request, a stray acknowledgement) is dropped.
    }
}

} // namespace devlink15
