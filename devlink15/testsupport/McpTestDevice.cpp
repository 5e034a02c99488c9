#include "McpTestDevice.h"

#include "McpFrame.h"

#include <algorithm>
#include <random>

namespace devlink15::test {
namespace {

using namespace std::chrono_literals;

int PipeOfChannel(uint8_t channel) {
    return (channel + 1) / 2;
}
bool IsHostOutputChannel(uint8_t channel) {
    return channel % 2 == 1;
}

} // namespace

uint32_t BitwiseCrc32(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

Bytes MakeFrame(uint8_t kind, uint8_t channel, uint8_t seq, const Bytes& payload) {
    Bytes frame{'M',
                'M',
                kind,
                channel,
                seq,
                static_cast<uint8_t>(payload.size() >> 8),
                static_cast<uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const uint32_t crc = BitwiseCrc32(frame.data(), frame.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.push_back(static_cast<uint8_t>(crc >> shift));
    return frame;
}

Bytes MakeControl(uint8_t channel, uint8_t code, uint8_t seq) {
    return MakeFrame(18, channel, 0, {code, seq, 0, 0});
}

// ---------------------------------------------------------------------------------------------

ScriptedDevice::ScriptedDevice() : thread_([this] { Run(); }) {}

ScriptedDevice::~ScriptedDevice() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool ScriptedDevice::HostWrite(const Bytes& bytes) {
    if (!plugged_)
        return false;
    std::lock_guard lock(mutex_);
    fromHost_.insert(fromHost_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
    return true;
}

bool ScriptedDevice::TakeBytesForHost(Bytes& bytes, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return !toHost_.empty() || stopping_ || !plugged_; });
    bytes.swap(toHost_);
    toHost_.clear();
    return !bytes.empty();
}

void ScriptedDevice::Unplug() {
    plugged_ = false;
    changed_.notify_all();
}

void ScriptedDevice::QueueData(int pipe, const Bytes& data) {
    std::lock_guard lock(mutex_);
    OutPipe& out = out_[pipe];
    out.pending.insert(out.pending.end(), data.begin(), data.end());
    if (out.requested)
        ServeRequestLocked(pipe);
}

void ScriptedDevice::CloseWhenDrained(int pipe) {
    std::lock_guard lock(mutex_);
    out_[pipe].closeWhenDrained = true;
    if (out_[pipe].requested)
        ServeRequestLocked(pipe);
}

void ScriptedDevice::SendControl(uint8_t channel, uint8_t code, uint8_t seq) {
    std::lock_guard lock(mutex_);
    SendControlLocked(channel, code, seq);
}

void ScriptedDevice::SendRaw(const Bytes& bytes) {
    std::lock_guard lock(mutex_);
    toHost_.insert(toHost_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
}

void ScriptedDevice::RestartPipe(int pipe) {
    std::lock_guard lock(mutex_);
    out_[pipe] = OutPipe{};
    in_[pipe].seq = 0;
    SendControlLocked(static_cast<uint8_t>(2 * pipe - 1), kMcpResetChannel, 0);
    SendControlLocked(static_cast<uint8_t>(2 * pipe), kMcpResetChannel, 0);
}

void ScriptedDevice::Accept(int pipe, bool accept) {
    std::lock_guard lock(mutex_);
    InPipe& in = in_[pipe];
    in.accepting = accept;
    if (accept)
        SendControlLocked(static_cast<uint8_t>(2 * pipe - 1), kMcpRequest, in.seq);
}

Bytes ScriptedDevice::Received(int pipe) {
    std::lock_guard lock(mutex_);
    return in_[pipe].received;
}

bool ScriptedDevice::WaitReceived(int pipe, size_t count, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return in_[pipe].received.size() >= count; });
}

std::vector<HostFrame> ScriptedDevice::HostFrames() {
    std::lock_guard lock(mutex_);
    return hostFrames_;
}

bool ScriptedDevice::WaitHostFrame(const std::function<bool(const HostFrame&)>& match,
                                   std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait,
                             [&] { return std::any_of(hostFrames_.begin(), hostFrames_.end(), match); });
}

void ScriptedDevice::Run() {
    std::unique_lock lock(mutex_);
    auto lastTick = std::chrono::steady_clock::now();
    while (!stopping_) {
        const auto nextTick = lastTick + std::chrono::milliseconds(std::min(requestPeriodMs.load(), 50));
        changed_.wait_until(lock, nextTick, [this] { return stopping_ || !fromHost_.empty(); });
        if (!plugged_) {
            fromHost_.clear();
            continue;
        }
        ParseHostBytesLocked();
        // Repeated requests cover lost ones.
        if (std::chrono::steady_clock::now() >=
            lastTick + std::chrono::milliseconds(requestPeriodMs.load())) {
            lastTick = std::chrono::steady_clock::now();
            for (auto& [pipe, in] : in_)
                if (in.accepting)
                    SendControlLocked(static_cast<uint8_t>(2 * pipe - 1), kMcpRequest, in.seq);
        }
    }
}

void ScriptedDevice::ParseHostBytesLocked() {
    while (fromHost_.size() >= 2) {
        if (fromHost_[0] != 'M' || fromHost_[1] != 'M') {
            fromHost_.erase(fromHost_.begin());
            continue;
        }
        if (fromHost_.size() < 7)
            return;
        const size_t length = (size_t{fromHost_[5]} << 8) | fromHost_[6];
        if (length > 512) {
            fromHost_.erase(fromHost_.begin());
            continue;
        }
        if (fromHost_.size() < 7 + length + 4)
            return;
        const uint32_t crc = BitwiseCrc32(fromHost_.data(), 7 + length);
        uint32_t sent = 0;
        for (int i = 0; i < 4; ++i)
            sent = (sent << 8) | fromHost_[7 + length + i];
        if (crc != sent) {
            fromHost_.erase(fromHost_.begin());
            continue;
        }
        const Bytes payload(fromHost_.begin() + 7, fromHost_.begin() + 7 + static_cast<long>(length));
        HostFrame frame{fromHost_[2], fromHost_[3], fromHost_[4], length, 0, 0};
        if (length >= 2 && frame.kind == kMcpControlFrame) {
            frame.code = payload[0];
            frame.codeSeq = payload[1];
        }
        fromHost_.erase(fromHost_.begin(), fromHost_.begin() + static_cast<long>(7 + length + 4));
        HandleFrameLocked(frame, payload);
    }
}

void ScriptedDevice::HandleFrameLocked(const HostFrame& frame, const Bytes& payload) {
    hostFrames_.push_back(frame);
    changed_.notify_all();
    const int pipe = PipeOfChannel(frame.channel);
    if (frame.kind == kMcpDataFrame) {
        if (!IsHostOutputChannel(frame.channel))
            return;
        if (dropDataFromHost > 0) {
            --dropDataFromHost;
            return;
        }
        InPipe& in = in_[pipe];
        if (!in.accepting)
            return;
        if (frame.seq == in.seq) {
            in.received.insert(in.received.end(), payload.begin(), payload.end());
            in.seq = static_cast<uint8_t>(in.seq + 1);
        } else if (frame.seq != static_cast<uint8_t>(in.seq - 1)) {
            return;
        }
        if (finalAcks)
            SendControlLocked(frame.channel, kMcpFinalAck, frame.seq);
        else
            SendControlLocked(frame.channel, kMcpRequest, in.seq);
        return;
    }
    switch (frame.code) {
    case kMcpRequest:
        if (IsHostOutputChannel(frame.channel))
            return;
        if (dropRequestsFromHost > 0) {
            --dropRequestsFromHost;
            return;
        }
        {
            OutPipe& out = out_[pipe];
            if (out.inFlight && frame.codeSeq == static_cast<uint8_t>(out.seq + 1)) {
                out.inFlight.reset();
                out.seq = frame.codeSeq;
            }
            if (frame.codeSeq == out.seq) {
                out.requested = true;
                ServeRequestLocked(pipe);
            }
        }
        return;
    case kMcpResetChannel:
        if (IsHostOutputChannel(frame.channel)) {
            in_[pipe].seq = 0;
        } else {
            OutPipe& out = out_[pipe];
            if (out.inFlight)
                out.pending.insert(out.pending.begin(), out.inFlight->begin(), out.inFlight->end());
            out.inFlight.reset();
            out.seq = 0;
            out.requested = false;
        }
        return;
    default:
        (void)payload;
        return;
    }
}

void ScriptedDevice::ServeRequestLocked(int pipe) {
    OutPipe& out = out_[pipe];
    if (!out.inFlight && !out.pending.empty()) {
        const size_t n = std::min<size_t>(512, out.pending.size());
        out.inFlight = Bytes(out.pending.begin(), out.pending.begin() + static_cast<long>(n));
        out.pending.erase(out.pending.begin(), out.pending.begin() + static_cast<long>(n));
    }
    const auto channel = static_cast<uint8_t>(2 * pipe);
    if (out.inFlight) {
        out.requested = false;
        SendFrameLocked(MakeFrame(kMcpDataFrame, channel, out.seq, *out.inFlight));
    } else if (out.closeWhenDrained && !out.closeSent) {
        out.closeSent = true;
        SendControlLocked(channel, kMcpCloseChannel, 0);
    }
}

void ScriptedDevice::SendFrameLocked(const Bytes& frame) {
    if (dropToHost > 0) {
        --dropToHost;
        return;
    }
    Bytes copy = frame;
    if (corruptToHost > 0) {
        --corruptToHost;
        copy.back() ^= 0x01;
    }
    toHost_.insert(toHost_.end(), copy.begin(), copy.end());
    changed_.notify_all();
}

void ScriptedDevice::SendControlLocked(uint8_t channel, uint8_t code, uint8_t seq) {
    SendFrameLocked(MakeControl(channel, code, seq));
}

// ---------------------------------------------------------------------------------------------

MemoryUsbLink::~MemoryUsbLink() {
    Stop();
}

bool MemoryUsbLink::PutByte(uint8_t byte) {
    writeBuffer_.push_back(byte);
    return writeBuffer_.size() < 4096 || FlushUsbWrite();
}

bool MemoryUsbLink::FlushUsbWrite() {
    Bytes bytes;
    bytes.swap(writeBuffer_);
    if (bytes.empty())
        return true;
    std::lock_guard lock(deviceMutex_);
    return !stopped_ && device_ != nullptr && device_->HostWrite(bytes);
}

bool MemoryUsbLink::OpenUsbDevice(int deviceNumber) {
    if (platform_.failOpens > 0) {
        --platform_.failOpens;
        return false;
    }
    ScriptedDevice* device = platform_.DeviceAt(deviceNumber);
    std::lock_guard lock(deviceMutex_);
    device_ = device;
    return device_ != nullptr && device_->IsPlugged();
}

void MemoryUsbLink::CloseUsbDevice() {
    std::lock_guard lock(deviceMutex_);
    device_ = nullptr;
}

bool MemoryUsbLink::StartReadThread(XMCPDemux& receiver, size_t receiveBufferSize) {
    if (reader_.joinable())
        return false;
    stopped_ = false;
    reader_ = std::thread([this, &receiver, receiveBufferSize] { ReadLoop(&receiver, receiveBufferSize); });
    return true;
}

void MemoryUsbLink::Stop() {
    stopped_ = true;
    if (reader_.joinable())
        reader_.join();
}

void MemoryUsbLink::ReadLoop(XMCPDemux* receiver, size_t bufferSize) {
    std::mt19937 random(7);
    Bytes bytes;
    while (!stopped_) {
        ScriptedDevice* device;
        {
            std::lock_guard lock(deviceMutex_);
            device = device_;
        }
        if (device == nullptr || !device->IsPlugged()) {
            stopped_ = true; // the device is gone for good: the link gives up
            return;
        }
        if (!device->TakeBytesForHost(bytes, 20ms))
            continue;
        size_t at = 0;
        while (at < bytes.size()) {
            size_t piece = std::min(bufferSize, bytes.size() - at);
            if (const int split = platform_.splitMax; split > 0)
                piece = std::min(
                    piece, std::uniform_int_distribution<size_t>(1, static_cast<size_t>(split))(random));
            receiver->ReceiveMcpBytes(bytes.data() + at, piece);
            at += piece;
        }
    }
}

// ---------------------------------------------------------------------------------------------

class Claim : public DeviceClaim {
  public:
    Claim(TestPlatform& platform, std::string shortId) : platform_(platform), shortId_(std::move(shortId)) {}
    ~Claim() override {
        std::lock_guard lock(platform_.mutex_);
        platform_.claims_.erase(shortId_);
    }

  private:
    TestPlatform& platform_;
    std::string shortId_;
};

class CountedTimerResolution : public TimerResolution {
  public:
    explicit CountedTimerResolution(std::atomic<int>& holds) : holds_(holds) { ++holds_; }
    ~CountedTimerResolution() override { --holds_; }

  private:
    std::atomic<int>& holds_;
};

void TestPlatform::AddDevice(int number, UsbDeviceInfo info, ScriptedDevice* device) {
    std::lock_guard lock(mutex_);
    devices_[number] = {std::move(info), device};
}

ScriptedDevice* TestPlatform::DeviceAt(int number) {
    std::lock_guard lock(mutex_);
    auto found = devices_.find(number);
    return found == devices_.end() ? nullptr : found->second.second;
}

std::unique_ptr<UsbByteLink> TestPlatform::CreateUsbLink() {
    return std::make_unique<MemoryUsbLink>(*this);
}

bool TestPlatform::QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info) {
    std::lock_guard lock(mutex_);
    auto found = devices_.find(deviceNumber);
    if (found == devices_.end() || !found->second.second->IsPlugged())
        return false;
    info = found->second.first;
    return true;
}

std::unique_ptr<DeviceClaim> TestPlatform::ClaimDevice(const std::string& shortId) {
    std::lock_guard lock(mutex_);
    if (!claims_.insert(shortId).second)
        return nullptr;
    return std::make_unique<Claim>(*this, shortId);
}

std::unique_ptr<TimerResolution> TestPlatform::HoldFineTimerResolution() {
    return std::make_unique<CountedTimerResolution>(timerHolds);
}

} // namespace devlink15::test
