#include "device15.h"

#include <algorithm>

namespace zvemu {
namespace {

constexpr int kIdleRequestRepeats = 5;
constexpr Millis kRebootUnplugDelay{100};

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

std::vector<uint8_t> DeviceInfoRecord(const DeviceIdentity& identity) {
    const std::string text = std::string(1, identity.type) + identity.deviceId + "  " + identity.shortId;
    std::vector<uint8_t> record;
    for (size_t i = 0; i < 22; ++i) {
        record.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        record.push_back(0);
    }
    return record;
}

bool IsValidIdentity(const DeviceIdentity& identity, std::string& error) {
    auto printable = [](const std::string& s) {
        return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c > 0x20 && c < 0x7F; });
    };
    if (identity.type != 'T' && identity.type != 'C') {
        error = "type must be T or C";
    } else if (identity.deviceId.size() != 12 || !printable(identity.deviceId)) {
        error = "id must be 12 printable characters";
    } else if (identity.shortId.size() != 7 || !printable(identity.shortId)) {
        error = "short must be 7 printable characters";
    } else {
        return true;
    }
    return false;
}

Device15::Device15(DeviceConfig config, LogSink logSink)
    : config_(std::move(config)), logSink_(std::move(logSink)), files_(config_.root, config_.capacity),
      engine_([this](const McpFrame& frame) { SendFrame(frame); }, *this),
      console_(
          files_, engine_, config_.identity, config_.console, *this,
          [this](const std::string& line) {
              log_.Add(line);
              if (logSink_)
                  logSink_(Printable(line));
          },
          [this] { BeginReboot(); }) {}

void Device15::PowerUp() {
    decoder_ = McpFrameDecoder{};
    engine_.ResetAll();
    engine_.SetLossRecovery(false);
    console_.Restart();
    splitIndex_ = 0;
    engine_.AcceptInput(kConsolePipe, true, kIdleRequestRepeats);
    engine_.AcceptInput(kKeepAlivePipe, true, kIdleRequestRepeats);
}

void Device15::OnHostAttached(Clock::time_point now) {
    now_ = now;
    outgoing_.clear();
    if (!present_)
        return; // a rebooting device announces itself when it is back
    Queue(UsbEvent::Kind::Plug, DeviceInfoRecord(config_.identity), now);
    PowerUp();
}

void Device15::OnHostBytes(std::span<const uint8_t> bytes, Clock::time_point now) {
    now_ = now;
    if (!present_)
        return;
    for (const auto& frame : decoder_.Feed(bytes))
        engine_.OnHostFrame(frame, now);
    console_.Tick(now);
}

void Device15::Tick(Clock::time_point now) {
    now_ = now;
    if (rebootPlugAt_ && now >= *rebootPlugAt_) {
        rebootPlugAt_.reset();
        present_ = true;
        Queue(UsbEvent::Kind::Plug, DeviceInfoRecord(config_.identity), now);
        PowerUp();
    }
    if (!present_)
        return;
    engine_.Tick(now);
    console_.Tick(now);
}

std::optional<Clock::time_point> Device15::NextDeadline() const {
    std::optional<Clock::time_point> next = rebootPlugAt_;
    auto consider = [&next](std::optional<Clock::time_point> t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    if (present_) {
        consider(engine_.NextDeadline());
        consider(console_.NextDeadline());
    }
    if (!outgoing_.empty())
        consider(outgoing_.front().due);
    return next;
}

std::vector<UsbEvent> Device15::TakeDueEvents(Clock::time_point now) {
    std::vector<UsbEvent> due;
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        due.push_back(std::move(outgoing_.front()));
        outgoing_.pop_front();
    }
    return due;
}

void Device15::Restart(std::optional<std::string> deviceId, std::optional<std::string> shortId,
                       Clock::time_point now) {
    now_ = now;
    const bool changed = (deviceId && *deviceId != config_.identity.deviceId) ||
                         (shortId && *shortId != config_.identity.shortId);
    if (deviceId)
        config_.identity.deviceId = *deviceId;
    if (shortId)
        config_.identity.shortId = *shortId;
    if (changed) {
        // Another device now answers behind this slot: nothing of the old one's state survives.
        outgoing_.clear();
        Queue(UsbEvent::Kind::Plug, DeviceInfoRecord(config_.identity), now);
        PowerUp();
    }
    Queue(UsbEvent::Kind::FailRead, {}, now);
}

void Device15::FailRead(Clock::time_point now) {
    Queue(UsbEvent::Kind::FailRead, {}, now);
}

void Device15::SendControl(uint8_t channel, uint8_t code, uint8_t seq) {
    SendFrame(McpFrame::control(channel, code, seq));
}

void Device15::BeginReboot() {
    present_ = false;
    const auto unplugAt = Clock::now() + kRebootUnplugDelay;
    Queue(UsbEvent::Kind::Unplug, {}, unplugAt);
    rebootPlugAt_ = unplugAt + config_.rebootTime;
}

void Device15::OnPipeInput(int pipe, std::span<const uint8_t> bytes) {
    if (pipe == kConsolePipe) {
        console_.OnConsoleBytes(bytes);
    } else if (pipe != kKeepAlivePipe) {
        console_.OnDataBytes(pipe, bytes, now_);
    }
}

void Device15::OnPipeClosedByHost(int pipe) {
    console_.OnPipeClosedByHost(pipe);
}

void Device15::OnChannelResetByHost(int channel) {
    if (channel == 2 * kConsolePipe - 1) {
        // The host has just opened its console: it is about to open the keep-alive pipe anew.
        console_.OnConsoleReset();
        engine_.ResetPipe(kKeepAlivePipe, now_);
        engine_.AcceptInput(kKeepAlivePipe, false, 0);
        engine_.AcceptInput(kKeepAlivePipe, true, kIdleRequestRepeats);
    }
}

void Device15::OnPipeFinished(int pipe) {
    console_.OnPipeFinished(pipe);
}

Millis Device15::TakeCommandDelay() {
    if (faults_.delayedCommands <= 0)
        return Millis{0};
    --faults_.delayedCommands;
    return faults_.commandDelay;
}

bool Device15::TakeRefusal() {
    if (faults_.refusals <= 0)
        return false;
    --faults_.refusals;
    return true;
}

void Device15::SendFrame(const McpFrame& frame) {
    if (faults_.silent)
        return;
    bool corrupt = false;
    for (auto it = faults_.frameFaults.begin(); it != faults_.frameFaults.end(); ++it) {
        if ((it->channel >= 0 && it->channel != frame.channel) || (it->kind != 0 && it->kind != frame.kind))
            continue;
        const auto action = it->action;
        if (--it->remaining <= 0)
            faults_.frameFaults.erase(it);
        if (action == FrameFault::Action::Drop) {
            engine_.SetLossRecovery(true);
            return;
        }
        corrupt = true;
        break;
    }
    auto bytes = EncodeMcpFrame(frame);
    if (corrupt) {
        bytes.back() ^= 0x01;
        engine_.SetLossRecovery(true);
    }
    const auto now = Clock::now();
    if (faults_.splitSizes.empty()) {
        Queue(UsbEvent::Kind::Data, std::move(bytes), now);
        return;
    }
    size_t pos = 0;
    auto due = now;
    while (pos < bytes.size()) {
        const size_t size =
            std::max<size_t>(1, faults_.splitSizes[splitIndex_++ % faults_.splitSizes.size()]);
        const size_t n = std::min(size, bytes.size() - pos);
        Queue(UsbEvent::Kind::Data, std::vector<uint8_t>(bytes.begin() + pos, bytes.begin() + pos + n), due);
        pos += n;
        due += faults_.splitGap;
    }
}

void Device15::Queue(UsbEvent::Kind kind, std::vector<uint8_t> bytes, Clock::time_point due) {
    // Events leave in the order they were made, whatever their times.
    if (!outgoing_.empty() && outgoing_.back().due > due)
        due = outgoing_.back().due;
    outgoing_.push_back({kind, std::move(bytes), due});
}

} // namespace zvemu
