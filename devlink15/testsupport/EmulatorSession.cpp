#include "EmulatorSession.h"

#include "UsbDevices.h"

#include <cstdio>
#include <cstdlib>

namespace devlink15::test {

EmulatorSession::EmulatorSession() {
    problem_ = process_.StartOnTestDriver(tv::test::EmulatorPath(TV_ZVEMU_DEFAULT), "zelvan15-test");
}

EmulatorSession::~EmulatorSession() = default;

std::string EmulatorSession::Request(const std::string& line) {
    return process_.Request(line);
}

std::string EmulatorSession::VolumeUnixPath(int slot) const {
    return process_.Root() + "/slot" + std::to_string(slot) + "/default";
}

std::wstring EmulatorSession::VolumeWindowsPath(int slot) const {
    return L"Z:" + Widen(VolumeUnixPath(slot));
}

std::wstring EmulatorSession::ScratchWindowsPath() const {
    const std::wstring path = L"Z:" + Widen(process_.Root() + "/pc");
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

int EmulatorSession::Plug(int slot, const std::string& id, const std::string& shortId,
                          const std::string& extra) {
    const std::string folder = process_.Root() + "/slot" + std::to_string(slot);
    CreateDirectoryW((L"Z:" + Widen(folder)).c_str(), nullptr);
    CreateDirectoryW((L"Z:" + Widen(folder + "/default")).c_str(), nullptr);
    const std::string answer = Request("plug " + std::to_string(slot) + " id=" + id + " short=" + shortId +
                                       " root=" + folder + (extra.empty() ? "" : " " + extra));
    if (answer.rfind("ok", 0) != 0)
        return -1;
    return WaitForDevice(id, true);
}

void EmulatorSession::Unplug(int slot, const std::string& id) {
    Request("unplug " + std::to_string(slot));
    WaitForDevice(id, false);
}

int WaitForDevice(const std::string& id, bool present, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const int number = FindDeviceById(id);
        if ((number >= 0) == present || GetTickCount64() >= deadline)
            return number;
        Sleep(50);
    }
}

} // namespace devlink15::test

namespace devlink15::test {

EmulatorSession& SharedEmulator() {
    static EmulatorSession session;
    return session;
}

} // namespace devlink15::test
