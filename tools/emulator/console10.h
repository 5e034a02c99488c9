// The console of a 1.0 device on its serial line. The PC sends console frames (text, LF,
// checksum); the device confirms each with one byte (0x02 accepted, 0x01 refused), echoes the
// text, prints its answer lines and the prompt "Ready >", every line ended by CR LF.
// "rcv" switches the line to the PC's "C" data packets, which the device drives with "ack",
// "nack", "send<N>", "done" and "cancel" lines; "upl" switches it to the PC's 12-byte command
// blocks, answered with checked device blocks of up to 512 bytes.
// The device has media (the volumes of the folder file system) holding files only.
#pragma once

#include <chrono>
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

struct Device10Identity {
    std::string id = "@ZV10001"; // "@" and seven characters, what "id" reports
    std::string version = "1.0.3";
    std::string hardware = "2.1";
    int rfChannel = 5;
};

struct Console10Options {
    bool echo = true;               // the device echoes every command line
    bool pcModeRequired = false;    // file commands fail outside PC mode
    std::map<std::string, std::string> volumeLabels;
};

struct Serial10Faults {
    int badCrc = 0;            // device blocks sent with a flipped CRC bit
    int refuse = 0;            // console frames refused with confirm byte 0x01
    int noConfirm = 0;         // console frames ignored without any answer
    int nack = 0;              // data packets answered "nack" although sound
    std::optional<int> cancelAfter; // the next transfer is cancelled by the device after n packets/blocks
    bool silent = false;       // nothing at all is sent
    // The prompt follows the last (empty) block of an upload at once, before the PC's stop
    // block, which then gets no answer of its own (a device that does not wait to be stopped).
    bool earlyPrompt = false;
    // "pc on" is accepted and answered without "pc mode on" (a device that never confirms PC
    // mode); the device's mode stays as it was.
    bool pcUnconfirmed = false;
};

class Console10 {
  public:
    using CommandObserver = std::function<void(const std::string&)>;

    Console10(FolderFileSystem& files, const Device10Identity& identity, Console10Options options,
              Serial10Faults& faults, CommandObserver observer);

    void OnBytes(std::span<const uint8_t> bytes, Clock::time_point now);
    void Tick(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;
    // What the device has sent since the last call.
    std::vector<uint8_t> TakeOutput();

    static constexpr size_t kUploadBlockSize = 512;
    static constexpr Millis kStaleInput{500};
    static constexpr Millis kTransferIdleLimit{15000};

  private:
    enum class Mode { Console, Receiving, Uploading };
    struct Receive {
        std::string path;
        uint64_t size = 0;
        std::vector<uint8_t> data;
        uint32_t nextBlock = 0;
    };
    struct Upload {
        std::optional<std::vector<uint8_t>> bytes; // nothing: the file could not be read
        int blocksSent = 0;
        bool prompted = false; // the prompt went out with the last block
    };
    struct Reply {
        bool ok = true;
        std::string lines; // each ended by CR LF
    };

    void ProcessInput(Clock::time_point now);
    void OnFrame(std::string text, uint16_t checksum);
    void OnPacket(std::span<const uint8_t> bytes);
    void OnCommandBlock(std::span<const uint8_t> bytes);
    void Execute(const std::string& text);
    bool StartReceive(const ConsoleCommand& command);
    void StartUpload(const ConsoleCommand& command);
    void EndTransfer();
    Reply Run(const ConsoleCommand& command);
    Reply List(const ConsoleCommand& command) const;
    Reply VolumeList() const;
    Reply SystemInfo(const ConsoleCommand& command) const;
    Reply Remove(const ConsoleCommand& command);
    Reply Copy(const ConsoleCommand& command);
    bool NeedsPcMode(const std::string& word) const;
    void Send(std::string_view text);
    void SendBytes(std::span<const uint8_t> bytes);
    void SendDeviceBlock(uint8_t tag, uint8_t sequence, std::span<const uint8_t> data);

    FolderFileSystem& files_;
    const Device10Identity& identity_;
    Console10Options options_;
    Serial10Faults& faults_;
    CommandObserver observer_;

    Mode mode_ = Mode::Console;
    std::vector<uint8_t> input_;
    Clock::time_point lastInput_{};
    Clock::time_point lastTransferActivity_{};
    std::optional<Receive> receive_;
    std::optional<Upload> upload_;
    bool pcMode_ = false;
    std::vector<uint8_t> output_;
};

// A 1.0 device path names one file on one medium: "/<medium>/<name>".
bool IsFlatDevicePath(const std::string& path);

} // namespace zvemu
