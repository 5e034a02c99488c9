// Pipes: reliable, ordered byte streams, one direction each, built on an MCP channel with a
// stop-and-wait handshake. Data only moves when the receiving side asks for it.
#pragma once

#include "McpChannel.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace devlink15 {

class XMCPDemux;

// What every pipe half has: a process-wide serial number, the state word (bit 0: closed or
// failed) and the time-out in milliseconds (0: no limit).
class IPipe {
  public:
    IPipe();
    virtual ~IPipe() = default;
    IPipe(const IPipe&) = delete;
    IPipe& operator=(const IPipe&) = delete;

    uint32_t Serial() const { return serial_; }
    virtual uint32_t GetState() const = 0;
    virtual void SetState(uint32_t state) = 0;
    bool IsClosed() const { return (GetState() & kPipeClosed) != 0; }

    uint32_t Timeout() const { return timeoutMs_; }
    void SetTimeout(uint32_t milliseconds) { timeoutMs_ = milliseconds; }
    // The time-out as a wait budget: 0 stands for 0x7FFFFFFF ms.
    std::chrono::milliseconds TimeBudget() const;

  private:
    const uint32_t serial_;
    std::atomic<uint32_t> timeoutMs_{0};
};

class IInputPipe : public virtual IPipe {
  public:
    // Bytes read, possibly fewer than count; -1 when the link is down; 0 for count < 1.
    virtual int Read(uint8_t* buffer, int count) = 0;
    // 0..255, or -1 when the pipe is closed, the link is down or nothing arrives in time.
    virtual int ReadByte() = 0;
    virtual void Reset() = 0;
    virtual bool SendMcpReset() = 0;

    // Big-endian values; nothing when any byte could not be read.
    std::optional<uint16_t> ReadWord();
    std::optional<uint32_t> ReadLong();
    // Reads up to max-1 bytes, stopping after a zero byte or a failed read; always terminates
    // the buffer; returns the length without the terminator.
    int ReadString(char* buffer, int max);
};

class IOutputPipe : public virtual IPipe {
  public:
    // Bytes taken into the pipe (sent or buffered); fewer than count when a flush fails.
    virtual int Write(const uint8_t* buffer, int count) = 0;
    virtual bool WriteByte(uint8_t byte) = 0;
    virtual bool FlushOutputPipe() = 0;
    virtual void Reset() = 0;
    virtual bool SendMcpReset() = 0;

    bool WriteWord(uint16_t value);
    bool WriteLong(uint32_t value);
    // The text and its terminating zero byte.
    bool WriteString(const char* text);
};

// Device to PC.
class XMCPInputPipe : public IInputPipe {
  public:
    XMCPInputPipe(XMCPDemux* demux, uint8_t channel);

    int Read(uint8_t* buffer, int count) override;
    int ReadByte() override;
    void Reset() override;
    bool SendMcpReset() override { return channel_.SendMcpReset(); }
    uint32_t GetState() const override { return channel_.GetState(); }
    void SetState(uint32_t state) override { channel_.SetState(state); }
    XMCPChannel& Channel() { return channel_; }

  private:
    // Fetches the next frame into the current buffer; its length, or -1.
    int WaitInputFrame();
    size_t TakeBuffered(uint8_t* buffer, size_t count);

    XMCPChannel channel_;
    std::chrono::milliseconds pollInterval_;
    McpClock::time_point lastRequest_;
};

// PC to device.
class XMCPOutputPipe : public IOutputPipe {
  public:
    XMCPOutputPipe(XMCPDemux* demux, uint8_t channel);

    int Write(const uint8_t* buffer, int count) override;
    bool WriteByte(uint8_t byte) override;
    bool FlushOutputPipe() override;
    void Reset() override;
    bool SendMcpReset() override { return channel_.SendMcpReset(); }
    uint32_t GetState() const override { return channel_.GetState(); }
    void SetState(uint32_t state) override { channel_.SetState(state); }
    XMCPChannel& Channel() { return channel_; }

  private:
    XMCPChannel channel_;
    std::array<uint8_t, kMcpMaxDataPayload> buffer_{};
    size_t count_ = 0;
};

// Stand-ins for a missing half: the input is closed and every read fails; the output accepts
// and discards every write.
class NullInputPipe : public IInputPipe {
  public:
    int Read(uint8_t*, int) override { return -1; }
    int ReadByte() override { return -1; }
    void Reset() override {}
    bool SendMcpReset() override { return false; }
    uint32_t GetState() const override { return kPipeClosed; }
    void SetState(uint32_t) override {}
};

class NullOutputPipe : public IOutputPipe {
  public:
    int Write(const uint8_t*, int count) override { return count > 0 ? count : 0; }
    bool WriteByte(uint8_t) override { return true; }
    bool FlushOutputPipe() override { return true; }
    void Reset() override {}
    bool SendMcpReset() override { return false; }
    uint32_t GetState() const override { return 0; }
    void SetState(uint32_t) override {}
};

} // namespace devlink15
