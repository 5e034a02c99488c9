#include "EmulatorSession.h"

#include "UsbDevices.h"

#include <cstdio>
#include <cstdlib>

namespace devlink15::test {
namespace {

DWORD DriverUsbPort() {
    DWORD port = 47150;
    DWORD size = sizeof(port);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\tvusbsim\\Parameters", L"Port",
                 RRF_RT_REG_DWORD, nullptr, &port, &size);
    return port;
}

bool DriverInstalled() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\tvusbsim", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string EmulatorPath() {
    const char* configured = std::getenv("TV_ZVEMU");
    return configured && *configured ? configured : TV_ZVEMU_DEFAULT;
}

bool UnixFileExists(const std::string& path) {
    return FileExists(L"Z:" + Widen(path));
}

} // namespace

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text)
        wide.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

bool DevicesRequired() {
    const char* required = std::getenv("TV_REQUIRE_DEVICES");
    return required && *required && std::string(required) != "0";
}

EmulatorSession::EmulatorSession() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    if (!DriverInstalled()) {
        problem_ = "the test USB driver is not installed in this prefix (tools/usbsim/install.sh)";
        return;
    }
    const std::string emulator = EmulatorPath();
    if (!UnixFileExists(emulator)) {
        problem_ = "the device emulator " + emulator + " is missing (build the host tree or set TV_ZVEMU)";
        return;
    }
    root_ =
        "/tmp/zelvan15-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    CreateDirectoryW((L"Z:" + Widen(root_)).c_str(), nullptr);

    const DWORD usbPort = DriverUsbPort();
    const unsigned short controlPort = static_cast<unsigned short>(usbPort + 1);
    // Wine starts a Unix program when given its Unix path. The shell around the emulator stops
    // it as soon as the session's "alive" file is gone, and after 30 minutes in any case, so that
    // a crashed test run leaves nothing behind for long.
    alivePath_ = L"Z:" + Widen(root_ + "/alive");
    if (!WriteWholeFile(alivePath_, {})) {
        problem_ = "cannot create " + root_ + "/alive";
        return;
    }
    std::string command =
        "/bin/sh -c \"'" + emulator + "' --usb-port " + std::to_string(usbPort) + " --control-port " +
        std::to_string(controlPort) + " --log-file '" + root_ + "/commands.log' >'" + root_ +
        "/emulator.out' 2>&1 & e=$!; n=0; while [ -e '" + root_ +
        "/alive' ] && [ $n -lt 9000 ] && kill -0 $e 2>/dev/null; do sleep 0.2; n=$((n+1)); done; "
        "kill $e 2>/dev/null\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA("/bin/sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        problem_ = "could not start the emulator";
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int attempt = 0; attempt < 100 && !ConnectControl(controlPort); ++attempt)
        Sleep(100);
    if (control_ == INVALID_SOCKET)
        problem_ = "the emulator's control port does not answer";
}

EmulatorSession::~EmulatorSession() {
    if (control_ != INVALID_SOCKET)
        closesocket(control_);
    if (!alivePath_.empty())
        DeleteFileW(alivePath_.c_str());
    WSACleanup();
}

bool EmulatorSession::ConnectControl(unsigned short port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        closesocket(s);
        return false;
    }
    DWORD timeoutMs = 20000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    control_ = s;
    return true;
}

std::string EmulatorSession::ReadLine() {
    for (;;) {
        const size_t end = received_.find('\n');
        if (end != std::string::npos) {
            std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        char chunk[4096];
        const int n = recv(control_, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return "error connection lost";
        received_.append(chunk, static_cast<size_t>(n));
    }
}

std::string EmulatorSession::Request(const std::string& line) {
    if (control_ == INVALID_SOCKET)
        return "error no emulator";
    const std::string text = line + "\n";
    if (send(control_, text.data(), static_cast<int>(text.size()), 0) != static_cast<int>(text.size()))
        return "error send";
    std::string answer = ReadLine();
    int extra = 0;
    if (answer.rfind("ok ", 0) == 0)
        extra = std::atoi(answer.c_str() + 3);
    for (int i = 0; i < extra; ++i)
        answer += "\n" + ReadLine();
    return answer;
}

std::string EmulatorSession::VolumeUnixPath(int slot) const {
    return root_ + "/slot" + std::to_string(slot) + "/default";
}

std::wstring EmulatorSession::VolumeWindowsPath(int slot) const {
    return L"Z:" + Widen(VolumeUnixPath(slot));
}

std::wstring EmulatorSession::ScratchWindowsPath() const {
    const std::wstring path = L"Z:" + Widen(root_ + "/pc");
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

int EmulatorSession::Plug(int slot, const std::string& id, const std::string& shortId,
                          const std::string& extra) {
    const std::string folder = root_ + "/slot" + std::to_string(slot);
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

std::vector<uint8_t> Pattern(size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    tv::com::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && (bytes.empty() || (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                                &written, nullptr) &&
                                      written == bytes.size()));
}

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
    tv::com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size))
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() ||
           (ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
            got == bytes.size());
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace devlink15::test

namespace devlink15::test {

EmulatorSession& SharedEmulator() {
    static EmulatorSession session;
    return session;
}

} // namespace devlink15::test
