// Test support for the update component (test-only): the device emulator on the test driver's
// port, the loader plugged into the driver's loader slot, image files, the emulator's record of
// the images it took, and the folder where screenshots are kept.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "EmulatorProcess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tv::update::test {

inline constexpr int kLoaderSlot = 4;
inline constexpr int kBootSlot = 1;

class UpdateEmulator {
  public:
    UpdateEmulator();
    const std::string& Problem() const { return problem_; }
    std::string Request(const std::string& line) { return process_.Request(line); }
    // Plugs a loader-mode device that boots into kBootSlot with `version`; `faults` are extra
    // keys (refuse=1, shortby=<n>, delay=<ms>, noreboot=1). True when the emulator took it.
    bool PlugLoader(const std::string& version, const std::string& faults = {});
    void UnplugAll();
    // The emulator's lines for the images it received.
    std::vector<std::string> Images();
    // A file of `size` pattern bytes in the session folder; its Windows path.
    std::wstring MakeImage(const std::string& name, size_t size, uint32_t& crc);
    std::string Root() const { return process_.Root(); }

  private:
    std::string problem_;
    tv::test::EmulatorProcess process_;
    int bootCount_ = 0;
};

// The emulator every test of the executable shares.
UpdateEmulator& SharedEmulator();

// Waits until the interface of that class and index is present (or gone).
bool WaitForInterface(bool loaderClass, int index, bool present, DWORD timeoutMs);
// Where the screenshots of this run go (created when missing).
std::wstring ShotFolder();

#define REQUIRE_UPDATE_EMULATOR()                                                                                  \
    do {                                                                                                           \
        if (!::tv::update::test::SharedEmulator().Problem().empty()) {                                             \
            if (::tv::test::DevicesRequired())                                                                     \
                FAIL() << ::tv::update::test::SharedEmulator().Problem();                                          \
            GTEST_SKIP() << ::tv::update::test::SharedEmulator().Problem();                                        \
        }                                                                                                          \
    } while (0)

} // namespace tv::update::test
