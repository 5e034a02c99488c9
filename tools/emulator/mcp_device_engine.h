// The device side of MCP pipes. Pipe N is carried by channel 2N-1 (host to device) and
// channel 2N (device to host). The device sends a data frame only when the host has asked for
// that sequence number, asks the host for data with requests of its own, follows resets and
// closes from the host, and closes a pipe itself when a reply or an upload is complete.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "mcp_frame.h"

namespace zvemu {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr int kMinPipe = 1;
constexpr int kMaxPipe = 125;

// What the console needs from the pipe layer.
class PipeIo {
  public:
    virtual ~PipeIo() = default;
    // Begins a fresh stream on the device-to-host half (sequence 0) unless it is fresh already.
    virtual void StartOutput(int pipe) = 0;
    virtual void WritePipe(int pipe, std::span<const uint8_t> bytes) = 0;
    // Closes the pipe once the host has taken every byte written so far.
    virtual void FinishPipe(int pipe) = 0;
    // Closes the pipe at once, dropping unsent bytes; the close is repeated until the host
    // closes its side, since the host may open the pipe only later.
    virtual void ClosePipe(int pipe) = 0;
    // Starts or stops asking the host for data on the host-to-device half. While nothing has
    // arrived the request is repeated up to `repeats` times.
    virtual void AcceptInput(int pipe, bool on, int repeats) = 0;
};

class PipeListener {
  public:
    virtual ~PipeListener() = default;
    virtual void OnPipeInput(int pipe, std::span<const uint8_t> bytes) = 0;
    virtual void OnPipeClosedByHost(int pipe) = 0;
    virtual void OnChannelResetByHost(int channel) = 0;
    virtual void OnPipeFinished(int pipe) = 0; // the device's close went out after the last byte
};

class McpDeviceEngine final : public PipeIo {
  public:
    using FrameSender = std::function<void(const McpFrame&)>;

    McpDeviceEngine(FrameSender sender, PipeListener& listener);

    void OnHostFrame(const McpFrame& frame, Clock::time_point now);
    void Tick(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;

    // Every channel back to its state after power-up.
    void ResetAll();
    // Both halves of one pipe back to sequence 0, as if the host had closed it.
    void ResetPipe(int pipe, Clock::time_point now);
    // After a frame of ours was lost on purpose, requests are repeated while unanswered.
    void SetLossRecovery(bool on) { lossRecovery_ = on; }

    void StartOutput(int pipe) override;
    void WritePipe(int pipe, std::span<const uint8_t> bytes) override;
    void FinishPipe(int pipe) override;
    void ClosePipe(int pipe) override;
    void AcceptInput(int pipe, bool on, int repeats) override;

    static constexpr Millis kRequestRepeat{300};
    static constexpr Millis kCloseRepeat{300};
    static constexpr Millis kCloseRepeatLimit{3000};
    static constexpr Millis kResendGuard{500};

  private:
    struct OutHalf { // device to host
        uint8_t seq = 0;
        std::optional<std::vector<uint8_t>> inflight;
        std::vector<uint8_t> queue;
        size_t queueHead = 0;
        bool requested = false;
        bool finishing = false;
        bool closed = false;
        bool closeRepeating = false;
        Clock::time_point closeSentAt{};
        Clock::time_point closeFirstSentAt{};
        bool IsFresh() const {
            return seq == 0 && !inflight && queueHead == queue.size() && !finishing && !closed;
        }
    };
    struct InHalf { // host to device
        uint8_t expect = 0;
        bool accepting = false;
        int repeatBudget = 0;
        int repeatsLeft = 0;
        bool lastWasFinal = false;
        bool anyAck = false;
        Clock::time_point lastAckAt{};
        Clock::time_point lastRequestAt{};
    };

    void OnData(const McpFrame& frame, Clock::time_point now);
    void OnControl(const McpFrame& frame, Clock::time_point now);
    void OnRequest(int pipe, uint8_t code, uint8_t seq, Clock::time_point now);
    void Serve(int pipe);
    void SendClose(int pipe, Clock::time_point now);
    void SendAck(int pipe, Clock::time_point now);
    void ResetOut(int pipe);
    void ResetIn(int pipe, Clock::time_point now);

    static int PipeOfChannel(int channel) { return (channel + 1) / 2; }
    static uint8_t OutChannel(int pipe) { return static_cast<uint8_t>(2 * pipe); }
    static uint8_t InChannel(int pipe) { return static_cast<uint8_t>(2 * pipe - 1); }

    FrameSender send_;
    PipeListener& listener_;
    std::array<OutHalf, kMaxPipe + 1> out_{};
    std::array<InHalf, kMaxPipe + 1> in_{};
    bool lossRecovery_ = false;
    Clock::time_point lastNow_{};
};

} // namespace zvemu
