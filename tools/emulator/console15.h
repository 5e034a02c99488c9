// The command interpreter of a 1.5 device. Command lines arrive on the console pipe (pipe 1),
// each ended by a zero byte. A command that names "$pipe=N" answers on pipe N and closes it;
// "rcv" and "upl" move file data on the pipe named by "$data_pipe=N". Every answer is a line
// feed, the command's own lines, then the status line "done" or "fail"; paths are never echoed.
// After each command the console itself shows "Ready >".
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console_command.h"
#include "folder_file_system.h"
#include "mcp_device_engine.h"

namespace zvemu {

constexpr int kConsolePipe = 1;
constexpr int kKeepAlivePipe = 5;

struct DeviceIdentity {
    char type = 'T';
    std::string deviceId; // 12 characters
    std::string shortId;  // 7 characters
    std::string version = "1.5.0";
};

struct ConsoleOptions {
    // Whether the recursive listing "X/.../*" names X itself first.
    bool listingNamesFolder = true;
    // Display labels of the extra volumes, by volume name (default: the name itself).
    std::map<std::string, std::string> volumeLabels;
};

// Faults that act on whole commands; the device's fault plan answers these.
class CommandFaults {
  public:
    virtual ~CommandFaults() = default;
    virtual Millis TakeCommandDelay() = 0;
    virtual bool TakeRefusal() = 0;
};

class Console15 {
  public:
    using CommandObserver = std::function<void(const std::string&)>;
    using RebootRequest = std::function<void()>;

    Console15(FolderFileSystem& files, PipeIo& pipes, const DeviceIdentity& identity, ConsoleOptions options,
              CommandFaults& faults, CommandObserver observer, RebootRequest reboot);

    void OnConsoleBytes(std::span<const uint8_t> bytes);
    void OnDataBytes(int pipe, std::span<const uint8_t> bytes, Clock::time_point now);
    void OnPipeClosedByHost(int pipe);
    void OnPipeFinished(int pipe);
    // The host (re)opened the console: a half-received line is dropped.
    void OnConsoleReset();
    void Restart();

    void Tick(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;

    static std::string FormatListingLine(const DeviceItem& item);
    static constexpr const char* kPrompt = "Ready >";
    static constexpr Millis kReceiveIdleLimit{15000};

  private:
    struct Reply {
        bool ok = true;
        std::string lines; // each ended by a line feed
        static Reply Fail(std::string why = {}) { return {false, why.empty() ? std::string() : why + "\n"}; }
    };
    struct Receive {
        std::string path;
        uint64_t size = 0;
        std::vector<uint8_t> data;
        Clock::time_point lastData;
    };
    struct Pending {
        std::string line;
        std::optional<Clock::time_point> notBefore;
    };

    void Execute(const std::string& line, Clock::time_point now);
    void Answer(const ConsoleCommand* command, const Reply& reply);
    void ShowOnConsole(const std::string& text);
    Reply RunSimple(const ConsoleCommand& command);
    Reply List(const ConsoleCommand& command);
    Reply VolumeList() const;
    Reply SystemInfo(const ConsoleCommand& command) const;
    Reply RemoveItems(const ConsoleCommand& command);
    Reply CopyItem(const ConsoleCommand& command);
    Reply MakeFolder(const ConsoleCommand& command);
    Reply ChangeAttributes(const ConsoleCommand& command);
    void StartReceive(const ConsoleCommand& command, Clock::time_point now);
    void StartUpload(const ConsoleCommand& command);
    void FinishReceive(int pipe, bool ok);
    std::string LabelOf(const std::string& volume) const;

    FolderFileSystem& files_;
    PipeIo& pipes_;
    const DeviceIdentity& identity_;
    ConsoleOptions options_;
    CommandFaults& faults_;
    CommandObserver observer_;
    RebootRequest reboot_;

    std::string partialLine_;
    std::deque<Pending> queue_;
    std::map<int, Receive> receives_;
    std::map<int, bool> uploads_;
    bool pcMode_ = false;
};

} // namespace zvemu
