// The emulator process: device slots, the USB link server that the test driver connects to,
// the control server, and one poll loop that runs all of them on the calling thread.
#pragma once

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control_server.h"
#include "device10.h"
#include "device15.h"
#include "loader15.h"
#include "tcp.h"
#include "usb_link_server.h"

namespace zvemu {

struct EmulatorOptions {
    uint16_t usbPort = 47150;
    uint16_t controlPort = 47151;
    std::string commandLogFile;
    std::vector<std::string> deviceSpecs; // "slot=0,id=...,short=...,root=..."
    bool exitWithControl = false;         // end once the control clients have all gone
};

// Splits a control line into words; double quotes group a word with blanks.
std::vector<std::string> SplitControlWords(const std::string& line);
// Parses key=value words into a device configuration; the slot comes back separately.
bool ParseDeviceConfig(const std::map<std::string, std::string>& keys, DeviceConfig& config,
                       std::string& error);

class Emulator final : private UsbSlotHandler {
  public:
    explicit Emulator(EmulatorOptions options);
    ~Emulator() override;

    bool Start(std::string& error);
    // Serves until Stop; call from one thread only.
    void Run();
    // May be called from any thread or from a signal handler.
    void Stop();

    uint16_t usbPort() const { return usb_.port(); }
    uint16_t controlPort() const { return control_.port(); }

    std::string HandleControlLine(const std::string& line);

    static constexpr int kSlotCount = 16;
    static constexpr int kHighestComPort = 255;

  private:
    void OnSlotAttached(int slot, int kind) override;
    void OnSlotWrite(int slot, std::span<const uint8_t> bytes) override;
    void OnSlotDetached(int slot) override;
    void OnSlotImage(int slot, std::span<const uint8_t> image) override;

    // The loader mode: `loader`, `images`, and unplug/fault/clear of a loader slot.
    std::string PlugLoader(int slot, const std::map<std::string, std::string>& keys);
    std::string HandleLoaderRequest(const std::string& verb, int slot, const std::map<std::string, std::string>& keys);
    std::string DescribeImages() const;
    void DeliverDueLoaderEvents(Clock::time_point now);

    std::string Plug(int slot, const std::map<std::string, std::string>& keys);
    std::string Unplug(int slot);
    std::string ConfigureFaults(Device15& device, const std::map<std::string, std::string>& keys);
    std::string DescribeLog(const CommandLog& log, size_t from) const;
    std::string HandleSerialRequest(const std::string& verb, int port, const std::map<std::string, std::string>& keys);
    std::string PlugSerial(int port, const std::map<std::string, std::string>& keys);
    std::string ConfigureSerialFaults(Device10& device, const std::map<std::string, std::string>& keys);
    std::string Status() const;
    void DeliverDueEvents(Clock::time_point now);

    EmulatorOptions options_;
    UsbLinkServer usb_;
    ControlServer control_;
    std::map<int, std::unique_ptr<Device15>> slots_;
    std::map<int, std::unique_ptr<Device10>> serial_; // by COM port number
    std::map<int, std::unique_ptr<Loader15>> loaders_;
    std::vector<ImageRecord> images_; // every image received, kept after its loader went
    std::ofstream commandLog_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
};

} // namespace zvemu
