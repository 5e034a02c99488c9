#include "UpdateTestSupport.h"

#include "McpFrame.h"
#include "UiHarness.h"
#include "UsbDevices.h"

namespace tv::update::test {

UpdateEmulator::UpdateEmulator() {
    problem_ = process_.StartOnTestDriver(tv::test::EmulatorPath(TV_ZVEMU_DEFAULT), "zvupdate15-test");
}

bool UpdateEmulator::PlugLoader(const std::string& version, const std::string& faults) {
    const std::string folder = process_.Root() + "/booted" + std::to_string(bootCount_++);
    CreateDirectoryW((L"Z:" + tv::test::Widen(folder)).c_str(), nullptr);
    const std::string answer = Request("loader " + std::to_string(kLoaderSlot) + " boot=" + std::to_string(kBootSlot) +
                                       " id=UPDATED00001 short=UPD0001 root=" + folder + " version=" + version +
                                       (faults.empty() ? "" : " " + faults));
    return answer.rfind("ok", 0) == 0;
}

void UpdateEmulator::UnplugAll() {
    Request("unplug " + std::to_string(kLoaderSlot));
    Request("unplug " + std::to_string(kBootSlot));
    WaitForInterface(true, 0, false, 5000);
    WaitForInterface(false, 0, false, 5000);
}

std::vector<std::string> UpdateEmulator::Images() {
    const std::string answer = Request("images");
    std::vector<std::string> lines;
    size_t start = answer.find('\n');
    while (start != std::string::npos && start + 1 < answer.size()) {
        const size_t end = answer.find('\n', start + 1);
        lines.push_back(answer.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1));
        start = end;
    }
    return lines;
}

std::wstring UpdateEmulator::MakeImage(const std::string& name, size_t size, uint32_t& crc) {
    const std::vector<uint8_t> bytes = tv::test::Pattern(size, static_cast<unsigned>(size));
    crc = devlink15::McpCrc32(bytes.data(), bytes.size());
    const std::wstring path = tv::test::WindowsPath(process_.Root() + "/" + name);
    tv::test::WriteWholeFile(path, bytes);
    return path;
}

UpdateEmulator& SharedEmulator() {
    static UpdateEmulator emulator;
    return emulator;
}

bool WaitForInterface(bool loaderClass, int index, bool present, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    for (;;) {
        const bool now = devlink15::IsDeviceInterfacePresent(
            loaderClass ? devlink15::UsbInterfaceClass::Loader : devlink15::UsbInterfaceClass::Device, index);
        if (now == present)
            return true;
        if (GetTickCount() - started >= timeoutMs)
            return false;
        Sleep(20);
    }
}

std::wstring ShotFolder() {
    const std::wstring folder = tv::test::ExeFolder() + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

} // namespace tv::update::test
