// A 1.5 device in its loader mode: it sits in the driver's loader slot, takes the operating-system
// image in one request (noting its length and CRC-32, optionally writing it out), answers how much
// it took, and then reboots: the loader leaves its slot and the booted device, reporting the new
// version, is plugged into its boot slot. Faults refuse the image, take fewer bytes than sent,
// delay the answer, or leave out the reboot. Like Device15, everything it does on the USB side is
// a timed event, so that delays need no threads.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mcp_device_engine.h" // Clock, Millis

namespace zvemu {

struct LoaderFaults {
    bool refuse = false;    // the image request fails
    uint32_t shortBy = 0;   // the answer counts this many bytes fewer than were sent
    Millis answerDelay{0};  // the answer comes this much later
    bool noReboot = false;  // the loader stays; no booted device comes
};

struct LoaderConfig {
    int bootSlot = 0;
    std::map<std::string, std::string> bootKeys; // the plug keys of the booted device
    Millis rebootTime{300};                      // from the answer to the loader's unplug
    Millis bootTime{200};                        // from the unplug to the booted device's plug
    std::filesystem::path imageOut;              // where the image is written (empty: nowhere)
    LoaderFaults faults;
};

struct LoaderEvent {
    enum class Kind { Plug, Answer, Unplug, Boot };
    Kind kind = Kind::Plug;
    std::vector<uint8_t> bytes; // Plug: the information record; Answer: u32 status, u32 count
    Clock::time_point due{};
};

// What one received image looked like; the emulator keeps these for the control port.
struct ImageRecord {
    int slot = -1;
    size_t length = 0;
    uint32_t crc = 0;
    bool refused = false;
    uint32_t accepted = 0;
    std::string booted; // "<slot>,<version>" once the booted device was plugged
    std::string Describe() const;
};

// Parses the `loader` request's keys; boot keys are the device keys id, short, root, version,
// type, capacity and reboot_ms.
bool ParseLoaderConfig(const std::map<std::string, std::string>& keys, LoaderConfig& config, std::string& error);
// Applies fault keys (refuse=1, shortby=<n>, delay=<ms>, noreboot=1); false with `error` on a bad one.
bool ParseLoaderFaults(const std::map<std::string, std::string>& keys, LoaderFaults& faults, std::string& error);

class Loader15 {
  public:
    Loader15(int slot, LoaderConfig config);

    const LoaderConfig& config() const { return config_; }
    LoaderFaults& faults() { return config_.faults; }

    void OnHostAttached(Clock::time_point now);
    ImageRecord OnImage(std::span<const uint8_t> image, Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline() const;
    std::vector<LoaderEvent> TakeDueEvents(Clock::time_point now);

  private:
    void Queue(LoaderEvent::Kind kind, std::vector<uint8_t> bytes, Clock::time_point due);

    int slot_;
    LoaderConfig config_;
    std::deque<LoaderEvent> outgoing_;
    bool rebooting_ = false;
};

} // namespace zvemu
