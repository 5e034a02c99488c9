#include "Serial10Bench.h"

#include "Handles.h"

#include <sstream>

namespace devlink10::test {

using tv::test::WindowsPath;

namespace {

// Loads a server and runs its own registration.
bool RegisterServer(const std::string& unixPath) {
    HMODULE server = LoadLibraryW(WindowsPath(unixPath).c_str());
    auto registerServer = server ? reinterpret_cast<HRESULT(WINAPI*)()>(
                                       reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")))
                                 : nullptr;
    return registerServer && SUCCEEDED(registerServer());
}

} // namespace

Serial10Bench::Serial10Bench(int port, std::string deviceId, const std::vector<std::string>& servers)
    : port_(port), deviceId_(std::move(deviceId)) {
    char prefix[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) {
        problem_ = "WINEPREFIX is not set: run the test through its script";
        return;
    }
    prefix_ = prefix;
    for (const std::string& server : servers) {
        if (!RegisterServer(server)) {
            problem_ = "cannot register " + server;
            return;
        }
    }
    problem_ = process_.Start(tv::test::EmulatorPath(TV_ZVEMU_DEFAULT), "serial10-" + std::to_string(port),
                              "--usb-port 0 --control-port 0");
    if (!problem_.empty())
        return;
    if (!process_.ConnectControl(0)) {
        problem_ = "the emulator's control port does not answer";
        return;
    }
    CreateDirectoryW(WindowsPath(DeviceRoot()).c_str(), nullptr);
    CreateDirectoryW(WindowsPath(PcFolder()).c_str(), nullptr);
    if (!Plug())
        problem_ = "the emulator does not plug a device on COM" + std::to_string(port_);
}

std::string Serial10Bench::Request(const std::string& verbAndArgs) {
    const size_t blank = verbAndArgs.find(' ');
    return process_.Request(verbAndArgs.substr(0, blank) + " com=" + std::to_string(port_) +
                            (blank == std::string::npos ? "" : verbAndArgs.substr(blank)));
}

bool Serial10Bench::Plug(const std::string& extra) {
    return Request("plug root=" + DeviceRoot() + " id=" + deviceId_ + " prefix=" + prefix_ +
                   (extra.empty() ? "" : " " + extra))
               .rfind("ok", 0) == 0;
}

void Serial10Bench::Unplug() {
    Request("unplug");
}

std::vector<std::string> Serial10Bench::TakeLog() {
    const std::string answer = Request("log");
    Request("clearlog");
    return LogLines(answer);
}

std::wstring Serial10Bench::DeviceFile(const std::string& name) const {
    return WindowsPath(DeviceRoot() + "/default/" + name);
}

std::wstring Serial10Bench::PcFile(const std::string& name) const {
    return WindowsPath(PcFolder() + "/" + name);
}

std::string Serial10Bench::PcFolderText() const {
    std::string text = "Z:" + PcFolder() + "/";
    for (char& c : text)
        c = c == '/' ? '\\' : c;
    return text;
}

bool ListSerialPort(int port, bool listed) {
    const std::string valueName = "\\Device\\TvSerial" + std::to_string(port);
    if (!listed) {
        const LSTATUS status =
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", valueName.c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
        return false;
    tv::com::UniqueHKey key(raw);
    const std::string data = "COM" + std::to_string(port);
    return RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

std::vector<std::string> LogLines(const std::string& answer) {
    std::istringstream lines(answer);
    std::string line;
    std::getline(lines, line); // "ok <n>"
    std::vector<std::string> commands;
    while (std::getline(lines, line))
        commands.push_back(line.substr(line.find(' ') + 1));
    return commands;
}

} // namespace devlink10::test
