// Test infrastructure: the device emulator (a native Linux program) started from a Wine test
// process through /bin/sh, its line-based control port, and files reachable from both sides
// through drive Z:.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tv::test {

// Whether the run requires the emulated devices (TV_REQUIRE_DEVICES set and not "0"): then their
// absence fails the tests instead of skipping them.
bool DevicesRequired();

// The emulator to start: TV_ZVEMU when set, else the given default.
std::string EmulatorPath(const std::string& fallback);

class EmulatorProcess {
  public:
    EmulatorProcess();
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // Creates a fresh session folder under /tmp named after the tag and starts the emulator with
    // the given (shell-quoted) arguments, its command log in <root>/commands.log and its output in
    // <root>/emulator.out. The emulator ends when
    // this object goes (its "alive" file is deleted) and after 30 minutes in any case. Empty when
    // started, else why not.
    std::string Start(const std::string& emulator, const std::string& tag, const std::string& arguments);
    // Connects to the control port; with port 0, the one the emulator announces on its first line.
    bool ConnectControl(unsigned short port, DWORD waitMs = 10000);
    // Starts the emulator on the USB port the prefix's test USB driver uses, its control port the
    // next one, and connects to it. Empty when it answers, else why the device tests cannot run.
    std::string StartOnTestDriver(const std::string& emulator, const std::string& tag);

    // One control request; the first answer line followed by its extra lines, joined by LF.
    std::string Request(const std::string& line);
    // The session folder (Unix path); everything of the session lives below it.
    const std::string& Root() const { return root_; }

  private:
    bool TryConnect(unsigned short port);
    unsigned short AnnouncedControlPort() const;
    std::string ReadLine();

    std::string root_;
    std::wstring alivePath_;
    SOCKET control_ = INVALID_SOCKET;
    std::string received_;
};

// A Unix path as a Windows path on drive Z:, and the separators alone.
std::wstring Widen(const std::string& text);
std::wstring WindowsPath(const std::string& unixPath);

std::vector<uint8_t> Pattern(size_t size, unsigned seed);
bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes);
bool FileExists(const std::wstring& path);

} // namespace tv::test
