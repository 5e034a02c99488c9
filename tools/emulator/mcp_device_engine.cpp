#include "mcp_device_engine.h"

#include <algorithm>

namespace zvemu {

McpDeviceEngine::McpDeviceEngine(FrameSender sender, PipeListener& listener)
    : send_(std::move(sender)), listener_(listener) {}

void McpDeviceEngine::ResetAll() {
    for (int pipe = kMinPipe; pipe <= kMaxPipe; ++pipe) {
        out_[pipe] = OutHalf{};
        in_[pipe] = InHalf{};
    }
}

void McpDeviceEngine::ResetPipe(int pipe, Clock::time_point now) {
    if (pipe < kMinPipe || pipe > kMaxPipe)
        return;
    ResetOut(pipe);
    ResetIn(pipe, now);
}

void McpDeviceEngine::OnHostFrame(const McpFrame& frame, Clock::time_point now) {
    lastNow_ = now;
    if (frame.channel == 0 || PipeOfChannel(frame.channel) > kMaxPipe)
        return;
    if (frame.isControl()) {
        OnControl(frame, now);
    } else {
        OnData(frame, now);
    }
}

void McpDeviceEngine::OnData(const McpFrame& frame, Clock::time_point now) {
    if (frame.channel % 2 == 0)
        return; // the host never sends data on our output channels
    const int pipe = PipeOfChannel(frame.channel);
    InHalf& in = in_[pipe];
    if (!in.accepting)
        return;
    if (frame.seq != in.expect) {
        // A repeat of a frame we have: our acknowledgement may have been lost. Answer it again,
        // but not for every copy, or copies would breed further copies.
        if (in.anyAck && now - in.lastAckAt >= kResendGuard)
            SendAck(pipe, now);
        return;
    }
    in.expect = static_cast<uint8_t>(in.expect + 1);
    in.repeatsLeft = lossRecovery_ ? 4 : 0;
    listener_.OnPipeInput(pipe, frame.payload);
    // The listener may have stopped accepting (a transfer is complete): then the frame gets the
    // final acknowledgement instead of a request for the next one.
    in.lastWasFinal = !in.accepting;
    SendAck(pipe, now);
}

void McpDeviceEngine::SendAck(int pipe, Clock::time_point now) {
    InHalf& in = in_[pipe];
    if (in.lastWasFinal) {
        send_(McpFrame::control(InChannel(pipe), kMcpFinalAck, static_cast<uint8_t>(in.expect - 1)));
    } else {
        send_(McpFrame::control(InChannel(pipe), kMcpRequest, in.expect));
    }
    in.anyAck = true;
    in.lastAckAt = now;
    in.lastRequestAt = now;
}

void McpDeviceEngine::OnControl(const McpFrame& frame, Clock::time_point now) {
    const int channel = frame.channel;
    const int pipe = PipeOfChannel(channel);
    const uint8_t code = frame.controlCode();
    switch (code) {
    case kMcpRequest:
    case kMcpFinalAck:
        if (channel % 2 == 0)
            OnRequest(pipe, code, frame.controlSeq(), now);
        break;
    case kMcpReset:
        if (channel % 2 == 0) {
            ResetOut(pipe);
        } else {
            ResetIn(pipe, now);
        }
        listener_.OnChannelResetByHost(channel);
        break;
    case kMcpClose:
        // The host destroyed its half of the pipe; a later open starts again at sequence 0.
        if (channel % 2 == 0) {
            ResetOut(pipe);
        } else {
            ResetIn(pipe, now);
        }
        listener_.OnPipeClosedByHost(pipe);
        break;
    default:
        break;
    }
}

void McpDeviceEngine::OnRequest(int pipe, uint8_t code, uint8_t seq, Clock::time_point now) {
    OutHalf& out = out_[pipe];
    if (out.closed) {
        // The host still asks after our close: the close may have been lost.
        if (code == kMcpRequest && now - out.closeSentAt >= kResendGuard)
            SendClose(pipe, now);
        return;
    }
    const auto next = static_cast<uint8_t>(out.seq + 1);
    if (out.inflight) {
        if (code == kMcpRequest && seq == out.seq) {
            McpFrame frame;
            frame.kind = kMcpDataFrame;
            frame.channel = OutChannel(pipe);
            frame.seq = out.seq;
            frame.payload = *out.inflight;
            send_(frame);
            return;
        }
        const bool acknowledged =
            (code == kMcpRequest && seq == next) || (code == kMcpFinalAck && seq == out.seq);
        if (!acknowledged)
            return;
        out.inflight.reset();
        out.seq = next;
        if (code == kMcpFinalAck) {
            if (out.finishing && out.queueHead == out.queue.size())
                SendClose(pipe, now);
            return;
        }
    } else if (code != kMcpRequest || seq != out.seq) {
        return;
    }
    out.requested = true;
    Serve(pipe);
}

void McpDeviceEngine::Serve(int pipe) {
    OutHalf& out = out_[pipe];
    if (!out.requested || out.inflight || out.closed)
        return;
    if (out.queueHead < out.queue.size()) {
        const size_t n = std::min(kMcpMaxDataPayload, out.queue.size() - out.queueHead);
        const auto begin = out.queue.begin() + static_cast<std::ptrdiff_t>(out.queueHead);
        out.inflight.emplace(begin, begin + static_cast<std::ptrdiff_t>(n));
        out.queueHead += n;
        if (out.queueHead == out.queue.size()) {
            out.queue.clear();
            out.queueHead = 0;
        }
        out.requested = false;
        McpFrame frame;
        frame.kind = kMcpDataFrame;
        frame.channel = OutChannel(pipe);
        frame.seq = out.seq;
        frame.payload = *out.inflight;
        send_(frame);
    } else if (out.finishing) {
        out.requested = false;
        SendClose(pipe, Clock::now());
    }
}

void McpDeviceEngine::SendClose(int pipe, Clock::time_point now) {
    OutHalf& out = out_[pipe];
    const bool first = !out.closed;
    out.closed = true;
    out.closeSentAt = now;
    if (first)
        out.closeFirstSentAt = now;
    send_(McpFrame::control(OutChannel(pipe), kMcpClose, 0));
    send_(McpFrame::control(InChannel(pipe), kMcpClose, 0));
    if (first && out.finishing)
        listener_.OnPipeFinished(pipe);
}

void McpDeviceEngine::ResetOut(int pipe) {
    out_[pipe] = OutHalf{};
}

void McpDeviceEngine::ResetIn(int pipe, Clock::time_point now) {
    InHalf& in = in_[pipe];
    const bool accepting = in.accepting;
    const int budget = in.repeatBudget;
    in = InHalf{};
    if (accepting) {
        in.accepting = true;
        in.repeatBudget = budget;
        in.repeatsLeft = budget;
        SendAck(pipe, now);
    }
}

void McpDeviceEngine::StartOutput(int pipe) {
    if (pipe < kMinPipe || pipe > kMaxPipe)
        return;
    if (!out_[pipe].IsFresh())
        ResetOut(pipe);
}

void McpDeviceEngine::WritePipe(int pipe, std::span<const uint8_t> bytes) {
    if (pipe < kMinPipe || pipe > kMaxPipe)
        return;
    OutHalf& out = out_[pipe];
    if (out.closed)
        return;
    out.queue.insert(out.queue.end(), bytes.begin(), bytes.end());
    Serve(pipe);
}

void McpDeviceEngine::FinishPipe(int pipe) {
    if (pipe < kMinPipe || pipe > kMaxPipe)
        return;
    OutHalf& out = out_[pipe];
    if (out.closed)
        return;
    out.finishing = true;
    if (!out.inflight && out.queueHead == out.queue.size())
        SendClose(pipe, Clock::now());
}

void McpDeviceEngine::ClosePipe(int pipe) {
    if (pipe < kMinPipe || pipe > kMaxPipe)
        return;
    OutHalf& out = out_[pipe];
    out.queue.clear();
    out.queueHead = 0;
    out.inflight.reset();
    out.requested = false;
    out.finishing = false;
    out.closeRepeating = true;
    in_[pipe].accepting = false;
    SendClose(pipe, Clock::now());
}

void McpDeviceEngine::AcceptInput(int pipe, bool on, int repeats) {
    if (pipe < kMinPipe || pipe > kMaxPipe)
        return;
    InHalf& in = in_[pipe];
    const bool was = in.accepting;
    in.accepting = on;
    in.repeatBudget = repeats;
    if (on && !was) {
        in.repeatsLeft = repeats;
        in.lastWasFinal = false;
        SendAck(pipe, Clock::now());
    }
    if (on && out_[pipe].closeRepeating)
        ResetOut(pipe);
}

void McpDeviceEngine::Tick(Clock::time_point now) {
    lastNow_ = now;
    for (int pipe = kMinPipe; pipe <= kMaxPipe; ++pipe) {
        InHalf& in = in_[pipe];
        if (in.accepting && !in.lastWasFinal && in.repeatsLeft > 0 &&
            now - in.lastRequestAt >= kRequestRepeat) {
            --in.repeatsLeft;
            SendAck(pipe, now);
        }
        OutHalf& out = out_[pipe];
        if (out.closeRepeating) {
            if (now - out.closeFirstSentAt >= kCloseRepeatLimit) {
                out.closeRepeating = false;
            } else if (now - out.closeSentAt >= kCloseRepeat) {
                SendClose(pipe, now);
            }
        }
    }
}

std::optional<Clock::time_point> McpDeviceEngine::NextDeadline() const {
    std::optional<Clock::time_point> next;
    auto consider = [&next](Clock::time_point t) {
        if (!next || t < *next)
            next = t;
    };
    for (int pipe = kMinPipe; pipe <= kMaxPipe; ++pipe) {
        const InHalf& in = in_[pipe];
        if (in.accepting && !in.lastWasFinal && in.repeatsLeft > 0)
            consider(in.lastRequestAt + kRequestRepeat);
        const OutHalf& out = out_[pipe];
        if (out.closeRepeating)
            consider(out.closeSentAt + kCloseRepeat);
    }
    return next;
}

} // namespace zvemu
