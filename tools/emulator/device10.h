// One emulated device of the 1.0 generation on a pseudo-terminal. The slave end is linked as
// the Wine prefix's dosdevices/comN, so that "\\.\COMn" opens it; the emulator keeps the master
// end (and its own slave descriptor, so the line stays up between the PC's opens) and runs the
// 1.0 console on it. Removing the device removes the link and closes the pty.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console10.h"
#include "device15.h"
#include "folder_file_system.h"
#include "tcp.h"

namespace zvemu {

struct Device10Config {
    int port = 1; // COM port number
    Device10Identity identity;
    std::filesystem::path root;
    std::filesystem::path link; // <prefix>/dosdevices/com<port>
    uint64_t capacity = 2043ull * 512;
    Console10Options console;
};

class Device10 {
  public:
    using LogSink = std::function<void(const std::string& line)>;

    static std::unique_ptr<Device10> Create(Device10Config config, LogSink logSink, std::string& error);
    ~Device10();
    Device10(const Device10&) = delete;
    Device10& operator=(const Device10&) = delete;

    const Device10Config& config() const { return config_; }
    const std::string& ptyName() const { return ptyName_; }
    Serial10Faults& faults() { return faults_; }
    CommandLog& log() { return log_; }
    const CommandLog& log() const { return log_; }

    void AddPollEntries(std::vector<PollEntry>& entries);
    void Tick(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;

  private:
    Device10(Device10Config config, LogSink logSink);
    bool Open(std::string& error);
    void OnReadable();
    void Flush();

    Device10Config config_;
    LogSink logSink_;
    FolderFileSystem files_;
    Serial10Faults faults_;
    CommandLog log_;
    Console10 console_;
    UniqueFd master_;
    UniqueFd slave_;
    std::string ptyName_;
    std::vector<uint8_t> pending_;
};

} // namespace zvemu
