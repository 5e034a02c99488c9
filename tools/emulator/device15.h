// One emulated device of the 1.5 generation: its identity, its folder-backed storage, the MCP
// pipes and the console on top of them, the faults a test asked for, and the log of every
// console command received. What the device sends to the USB side is queued as timed events,
// so that pauses between chunks and reboots need no threads.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console15.h"
#include "folder_file_system.h"
#include "mcp_device_engine.h"
#include "mcp_frame.h"

namespace zvemu {

struct DeviceConfig {
    DeviceIdentity identity;
    std::filesystem::path root;
    uint64_t capacity = 64ull << 20; // bytes per volume
    ConsoleOptions console;
    Millis rebootTime{1000};
};

struct FrameFault {
    enum class Action { CorruptCrc, Drop };
    Action action = Action::Drop;
    int remaining = 1;
    int channel = -1; // any
    int kind = 0;     // any
};

struct FaultPlan {
    std::vector<FrameFault> frameFaults;
    std::vector<size_t> splitSizes; // empty: every frame goes out as one chunk
    Millis splitGap{0};
    Millis commandDelay{0};
    int delayedCommands = 0;
    int refusals = 0;
    bool silent = false;
};

struct UsbEvent {
    enum class Kind { Plug, Unplug, Data, FailRead };
    Kind kind = Kind::Data;
    std::vector<uint8_t> bytes; // Plug: the 44-byte information record; Data: bytes for the host
    Clock::time_point due{};
};

class CommandLog {
  public:
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() {
        first_ += lines_.size();
        lines_.clear();
    }
    // Entries are numbered from 0 over the device's life; a cleared entry keeps its number.
    size_t FirstIndex() const { return first_; }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    size_t first_ = 0;
    std::vector<std::string> lines_;
};

// 22 UTF-16LE characters: type letter, 12-character device id, two unused characters, 7-character short id.
std::vector<uint8_t> DeviceInfoRecord(const DeviceIdentity& identity);
bool IsValidIdentity(const DeviceIdentity& identity, std::string& error);

class Device15 final : private PipeListener, private CommandFaults {
  public:
    using LogSink = std::function<void(const std::string& line)>;

    Device15(DeviceConfig config, LogSink logSink);

    const DeviceConfig& config() const { return config_; }
    bool present() const { return present_; }
    FaultPlan& faults() { return faults_; }
    const CommandLog& log() const { return log_; }
    CommandLog& log() { return log_; }
    FolderFileSystem& files() { return files_; }

    // The driver of the slot connected: the device starts from power-up and announces itself.
    void OnHostAttached(Clock::time_point now);
    void OnHostBytes(std::span<const uint8_t> bytes, Clock::time_point now);
    void Tick(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;
    std::vector<UsbEvent> TakeDueEvents(Clock::time_point now);

    // The device restarts: pipes and commands in progress are lost, the host's pending read
    // fails once; with a new identity the host finds a different device behind the same slot.
    void Restart(std::optional<std::string> deviceId, std::optional<std::string> shortId,
                 Clock::time_point now);
    void FailRead(Clock::time_point now);
    void SendControl(uint8_t channel, uint8_t code, uint8_t seq);

  private:
    void OnPipeInput(int pipe, std::span<const uint8_t> bytes) override;
    void OnPipeClosedByHost(int pipe) override;
    void OnChannelResetByHost(int channel) override;
    void OnPipeFinished(int pipe) override;
    Millis TakeCommandDelay() override;
    bool TakeRefusal() override;

    void SendFrame(const McpFrame& frame);
    void Queue(UsbEvent::Kind kind, std::vector<uint8_t> bytes, Clock::time_point due);
    void PowerUp();
    void BeginReboot();

    DeviceConfig config_;
    LogSink logSink_;
    FolderFileSystem files_;
    McpDeviceEngine engine_;
    Console15 console_;
    McpFrameDecoder decoder_;
    FaultPlan faults_;
    CommandLog log_;
    std::deque<UsbEvent> outgoing_;
    Clock::time_point now_{};
    bool present_ = true;
    std::optional<Clock::time_point> rebootPlugAt_;
    size_t splitIndex_ = 0;
};

} // namespace zvemu
