#include "EmulatorProcess.h"

#include "Handles.h"

#include <cstdlib>

namespace tv::test {

bool DevicesRequired() {
    const char* required = std::getenv("TV_REQUIRE_DEVICES");
    return required && *required && std::string(required) != "0";
}

std::string EmulatorPath(const std::string& fallback) {
    const char* configured = std::getenv("TV_ZVEMU");
    return configured && *configured ? configured : fallback;
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text)
        wide.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::wstring WindowsPath(const std::string& unixPath) {
    return L"Z:" + Widen(unixPath);
}

EmulatorProcess::EmulatorProcess() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

EmulatorProcess::~EmulatorProcess() {
    if (control_ != INVALID_SOCKET)
        closesocket(control_);
    if (!alivePath_.empty())
        DeleteFileW(alivePath_.c_str());
    WSACleanup();
}

std::string EmulatorProcess::Start(const std::string& emulator, const std::string& tag,
                                   const std::string& arguments) {
    if (!FileExists(WindowsPath(emulator)))
        return "the device emulator " + emulator + " is missing (build the host tree or set TV_ZVEMU)";
    // Process numbers are per wineserver, so test programs of two prefixes can share one: a folder
    // already there belongs to another session and the name is drawn again.
    const std::string base = "/tmp/" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-";
    for (unsigned attempt = 0;; ++attempt) {
        root_ = base + std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryW(WindowsPath(root_).c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 1000)
            return "cannot create " + root_;
    }
    // Wine starts a Unix program when given its Unix path. The emulator ends when this test's
    // control connection goes (the test program ended or was killed by a timeout: a device left
    // plugged would show up in the next test program); the shell around it stops it as soon as
    // the session's "alive" file is gone, and after 30 minutes in any case. The shell lets go of
    // the test's own output, which ctest waits on.
    alivePath_ = WindowsPath(root_ + "/alive");
    if (!WriteWholeFile(alivePath_, {}))
        return "cannot create " + root_ + "/alive";
    std::string command = "/bin/sh -c \"exec </dev/null >/dev/null 2>&1; '" + emulator + "' " + arguments +
                          " --exit-with-control --log-file '" + root_ + "/commands.log' >'" + root_ +
                          "/emulator.out' 2>&1 & e=$!; n=0; while [ -e '" + root_ +
                          "/alive' ] && [ $n -lt 9000 ] && kill -0 $e 2>/dev/null; do sleep 0.2; n=$((n+1)); done; "
                          "kill $e 2>/dev/null\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA("/bin/sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return "could not start the emulator";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {};
}

namespace {

constexpr wchar_t kDriverKey[] = L"System\\CurrentControlSet\\Services\\tvusbsim";

bool DriverInstalled() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

DWORD DriverUsbPort() {
    DWORD port = 47150;
    DWORD size = sizeof(port);
    RegGetValueW(HKEY_LOCAL_MACHINE, (std::wstring(kDriverKey) + L"\\Parameters").c_str(), L"Port", RRF_RT_REG_DWORD,
                 nullptr, &port, &size);
    return port;
}

} // namespace

std::string EmulatorProcess::StartOnTestDriver(const std::string& emulator, const std::string& tag) {
    if (!DriverInstalled())
        return "the test USB driver is not installed in this prefix (tools/usbsim/install.sh)";
    const DWORD usbPort = DriverUsbPort();
    const auto controlPort = static_cast<unsigned short>(usbPort + 1);
    std::string problem = Start(emulator, tag,
                                "--usb-port " + std::to_string(usbPort) + " --control-port " + std::to_string(controlPort));
    if (problem.empty() && !ConnectControl(controlPort))
        problem = "the emulator's control port does not answer";
    return problem;
}

unsigned short EmulatorProcess::AnnouncedControlPort() const {
    std::vector<uint8_t> output;
    if (!ReadWholeFile(WindowsPath(root_ + "/emulator.out"), output))
        return 0;
    const std::string text(output.begin(), output.end());
    const std::string marker = "control port ";
    const size_t at = text.find(marker);
    return at == std::string::npos ? 0 : static_cast<unsigned short>(std::atoi(text.c_str() + at + marker.size()));
}

bool EmulatorProcess::ConnectControl(unsigned short port, DWORD waitMs) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    do {
        const unsigned short target = port ? port : AnnouncedControlPort();
        if (target && TryConnect(target))
            return true;
        Sleep(100);
    } while (GetTickCount64() < deadline);
    return false;
}

bool EmulatorProcess::TryConnect(unsigned short port) {
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

std::string EmulatorProcess::ReadLine() {
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

std::string EmulatorProcess::Request(const std::string& line) {
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
    tv::com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

} // namespace tv::test
