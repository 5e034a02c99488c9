// Test infrastructure: the device emulator (a native Linux program) started from the Wine test
// process, its control port, and device folders reachable from both sides through drive Z:.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "EmulatorProcess.h"
#include "Handles.h"

#include <string>
#include <vector>

namespace devlink15::test {

// How long a plug or an unplug is awaited: generous, for a loaded machine.
inline constexpr DWORD kDeviceWaitMs = 60000;

class EmulatorSession {
  public:
    // Starts the emulator on the USB port the installed test driver uses, and makes sure that
    // device arrivals are heard; see Problem().
    EmulatorSession();
    ~EmulatorSession();
    EmulatorSession(const EmulatorSession&) = delete;
    EmulatorSession& operator=(const EmulatorSession&) = delete;

    // Empty when the emulator answers; otherwise why the tests cannot run.
    const std::string& Problem() const { return problem_; }

    // One control request; the first answer line followed by its extra lines, joined by LF.
    std::string Request(const std::string& line);
    // Plugs a device backed by a fresh folder and waits until its interface has arrived; the
    // device number, or -1 (the emulator refused it, or it did not arrive within kDeviceWaitMs,
    // which is told on stderr).
    int Plug(int slot, const std::string& id, const std::string& shortId, const std::string& extra = {});
    void Unplug(int slot, const std::string& id);
    // The Unix path of the slot's main volume and the same folder as a Windows path.
    std::string VolumeUnixPath(int slot) const;
    std::wstring VolumeWindowsPath(int slot) const;
    std::wstring ScratchWindowsPath() const;

  private:
    // The plug request alone; false (told on stderr) when the emulator refuses it.
    bool PlugRequest(int slot, const std::string& id, const std::string& shortId, const std::string& extra);
    std::string Prime();

    std::string problem_;
    tv::test::EmulatorProcess process_;
};

// Waits until FindDeviceById finds (or no longer finds) the device, looking again at each arrival
// or removal of a device interface; the device number or -1. A wait that runs out says so on
// stderr, named by `stage`.
int WaitForDevice(const std::string& id, bool present, DWORD timeoutMs = kDeviceWaitMs,
                  const char* stage = "device wait");

using tv::test::FileExists;
using tv::test::Pattern;
using tv::test::ReadWholeFile;
using tv::test::Widen;
using tv::test::WriteWholeFile;

} // namespace devlink15::test

namespace devlink15::test {

// The emulator every test of the executable shares; started on first use.
EmulatorSession& SharedEmulator();

// Whether the run requires the driver and the emulator (TV_REQUIRE_DEVICES set): then their
// absence fails the tests instead of skipping them.
using tv::test::DevicesRequired;

// Skips the test when the emulator or the test driver is not available in this prefix; fails it
// instead when the run requires them.
#define REQUIRE_EMULATOR()                                                                                   \
    do {                                                                                                     \
        if (!::devlink15::test::SharedEmulator().Problem().empty()) {                                        \
            if (::devlink15::test::DevicesRequired())                                                        \
                FAIL() << ::devlink15::test::SharedEmulator().Problem();                                     \
            GTEST_SKIP() << ::devlink15::test::SharedEmulator().Problem();                                   \
        }                                                                                                    \
    } while (0)

// A device plugged for the length of one test.
class PluggedDevice {
  public:
    PluggedDevice(int slot, std::string id, std::string shortId, const std::string& extra = {})
        : slot_(slot), id_(std::move(id)), shortId_(std::move(shortId)) {
        number_ = SharedEmulator().Plug(slot_, id_, shortId_, extra);
    }
    ~PluggedDevice() { SharedEmulator().Unplug(slot_, id_); }
    PluggedDevice(const PluggedDevice&) = delete;
    PluggedDevice& operator=(const PluggedDevice&) = delete;

    int Number() const { return number_; }
    int Slot() const { return slot_; }
    const std::string& Id() const { return id_; }
    const std::string& ShortId() const { return shortId_; }
    std::string Request(const std::string& verbAndArgs) {
        const size_t blank = verbAndArgs.find(' ');
        const std::string verb = verbAndArgs.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : verbAndArgs.substr(blank);
        return SharedEmulator().Request(verb + " " + std::to_string(slot_) + rest);
    }
    std::wstring Volume() const { return SharedEmulator().VolumeWindowsPath(slot_); }

  private:
    int slot_;
    std::string id_;
    std::string shortId_;
    int number_ = -1;
};

} // namespace devlink15::test
