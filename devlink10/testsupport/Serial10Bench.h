// Test infrastructure of the 1.0 generation: the device emulator with one 1.0 device on a COM
// port of this Wine prefix (a pseudo-terminal the emulator links as dosdevices/comN), the servers
// the link creates by class registered in the prefix, and the device's command log.
#pragma once

#include "EmulatorProcess.h" // winsock2.h before windows.h

#include <string>
#include <vector>

namespace devlink10::test {

class Serial10Bench {
  public:
    // Registers the servers named (full Unix paths), starts the emulator and plugs a device with
    // `deviceId` on COM `port`; see Problem().
    Serial10Bench(int port, std::string deviceId, const std::vector<std::string>& servers);
    Serial10Bench(const Serial10Bench&) = delete;
    Serial10Bench& operator=(const Serial10Bench&) = delete;

    // Empty when the device answers on its port; otherwise why the tests cannot run.
    const std::string& Problem() const { return problem_; }
    int Port() const { return port_; }
    const std::string& DeviceId() const { return deviceId_; }

    // One control request for the device (its "com=" is added after the verb).
    std::string Request(const std::string& verbAndArgs);
    // Plugs the device again (after Unplug), with extra plug keys.
    bool Plug(const std::string& extra = {});
    void Unplug();
    // The console commands the device received since the last call, without their indexes.
    std::vector<std::string> TakeLog();

    // The emulator's control port, for a second device on another COM port.
    std::string RequestRaw(const std::string& line) { return process_.Request(line); }
    std::string Prefix() const { return prefix_; }

    // The device's main medium, a scratch PC folder (Unix paths) and a file in each as a
    // Windows path.
    std::string DeviceRoot() const { return process_.Root() + "/device"; }
    std::string PcFolder() const { return process_.Root() + "/pc"; }
    std::wstring DeviceFile(const std::string& name) const;
    std::wstring PcFile(const std::string& name) const;
    // The PC folder as the clients write it: a Windows path that ends in a backslash.
    std::string PcFolderText() const;

  private:
    int port_;
    std::string deviceId_;
    std::string problem_;
    std::string prefix_;
    tv::test::EmulatorProcess process_;
};

// Lists COM<n> in (or takes it out of) the system's list of serial ports, where the factory
// looks before it opens a port.
bool ListSerialPort(int port, bool listed);

// Parses the answer of the control request "log": the commands without their indexes.
std::vector<std::string> LogLines(const std::string& answer);

} // namespace devlink10::test

// Skips the test when the bench cannot run in this prefix; fails it instead when the run requires
// the emulated devices (TV_REQUIRE_DEVICES).
#define REQUIRE_SERIAL10_BENCH(bench)                                                                        \
    do {                                                                                                     \
        if (!(bench).Problem().empty()) {                                                                    \
            if (::tv::test::DevicesRequired())                                                               \
                FAIL() << (bench).Problem();                                                                 \
            GTEST_SKIP() << (bench).Problem();                                                               \
        }                                                                                                    \
    } while (0)
