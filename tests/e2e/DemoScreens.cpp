// tvdemo_screens.exe <folder> [device name]: pictures of the running program for the run command
// on a machine without a display of its own: the tray menu opened as a right click opens it, and
// the property sheet of a device as the hub shows it (the named one, else the first the hub
// lists). Each is saved as a BMP file in <folder> and its path printed; the exit code is the
// number of pictures that could not be taken.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "ZelvanMgr.h"
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace tv;

bool Save(const std::wstring& path) {
    // Menus and sheets paint after they are shown; the picture waits for that.
    Sleep(700);
    if (!test::SaveScreenshot(path))
        return false;
    std::printf("saved %ls\n", path.c_str());
    return true;
}

bool ShootTrayMenu(HWND mainDialog, const std::wstring& folder) {
    HWND menu = e2e::OpenTrayMenu(mainDialog);
    if (!menu) {
        std::printf("the tray menu did not open\n");
        return false;
    }
    const bool saved = Save(folder + L"\\tray-menu.bmp");
    e2e::CloseTrayMenu(mainDialog, menu);
    return saved;
}

// A shown sheet of that device: its caption begins with the device's name and ends with
// "Properties".
HWND FindSheet(const std::wstring& device) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
         window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        const std::wstring text = title;
        const std::wstring end = L"Properties";
        if (IsWindowVisible(window) && text.rfind(device + L" ", 0) == 0 && text.size() > end.size() &&
            text.compare(text.size() - end.size(), end.size(), end) == 0)
            return window;
    }
    return nullptr;
}

bool ShootDeviceSheet(std::string device, const std::wstring& folder) {
    com::ComPtr<IZelvanMgr> hub = e2e::ConnectHub();
    if (hub && device.empty()) {
        std::vector<std::string> listed;
        e2e::WaitUntil([&] { return !(listed = e2e::ListedDevices(hub.Get())).empty(); }, 30000);
        if (!listed.empty())
            device = listed.front();
    }
    if (device.empty()) {
        std::printf("the hub lists no device\n");
        return false;
    }
    if (!hub || FAILED(hub->DisplayProperties(const_cast<LPSTR>(device.c_str()), nullptr))) {
        std::printf("the hub did not show the sheet of %s\n", device.c_str());
        return false;
    }
    const std::wstring name(device.begin(), device.end());
    HWND sheet = nullptr;
    if (!e2e::WaitUntil([&] { return (sheet = FindSheet(name)) != nullptr; }, 60000)) {
        std::printf("no property sheet of %s came\n", device.c_str());
        return false;
    }
    std::printf("the property sheet of %s:\n", device.c_str());
    const bool saved = Save(folder + L"\\device-properties.bmp");
    test::ClickButton(sheet, IDCANCEL);
    test::WaitForWindowGone(sheet, 10000);
    return saved;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) {
        std::printf("usage: tvdemo_screens <folder> [device name]\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring wideDevice = argc == 3 ? argv[2] : L"";
    const std::string device(wideDevice.begin(), wideDevice.end());
    CreateDirectoryW(folder.c_str(), nullptr);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int missing = 0;
    HWND mainDialog = e2e::FindMainDialog(0, 60000);
    if (!mainDialog) {
        std::printf("the program's main dialog was not found\n");
        ++missing;
    } else if (!ShootTrayMenu(mainDialog, folder)) {
        ++missing;
    }
    if (!ShootDeviceSheet(device, folder))
        ++missing;
    CoUninitialize();
    return missing;
}
