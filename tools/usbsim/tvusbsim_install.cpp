// tvusbsim-install: creates the test USB driver's root-enumerated slots and installs the driver
// on them.
//
//   tvusbsim-install.exe <path of tvusbsim.inf> [emulator port]
//
// Slots 0..3 are device slots, slot 4 the loader slot, instance 5 the host controller with its
// root hub (the driver tells them apart by instance number). Running it again keeps the existing slots and reinstalls the driver.
#include <windows.h>

#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>

namespace {

constexpr int kSlotCount = 6;
constexpr wchar_t kHardwareId[] = L"ROOT\\TVUSBSIM";
constexpr wchar_t kParametersKey[] = L"System\\CurrentControlSet\\Services\\tvusbsim\\Parameters";
// {4d36e97d-e325-11ce-bfc1-08002be10318}: the INF's class (System).
constexpr GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

struct DeviceInfoListDeleter {
    void operator()(void* list) const { SetupDiDestroyDeviceInfoList(list); }
};
using UniqueDeviceInfoList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceInfoListDeleter>;

struct KeyDeleter {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyDeleter>;

struct ServiceHandleDeleter {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using UniqueServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleDeleter>;

constexpr DWORD kServiceWaitMs = 60000;
// Makes winedevice.exe look for root devices of the service that have no driver loaded yet.
constexpr DWORD kReenumerateRootDevices = 128;

// Wine's service manager holds its database lock while it starts the prefix's auto-start
// services after boot; creating or starting a service meanwhile fails. Waits until it is free.
bool WaitForServiceDatabase(SC_HANDLE manager) {
    for (DWORD waited = 0;; waited += 250) {
        SC_LOCK lock = LockServiceDatabase(manager);
        if (lock) {
            UnlockServiceDatabase(lock);
            return true;
        }
        if (GetLastError() != ERROR_SERVICE_DATABASE_LOCKED || waited >= kServiceWaitMs)
            return false;
        Sleep(250);
    }
}

// The driver install starts the service and has it enumerate the slots, but a start that Wine
// refuses (its database busy) is only logged. Starts it here when needed and asks for the slots.
bool EnsureDriverRunning(SC_HANDLE manager) {
    UniqueServiceHandle service(OpenServiceW(
        manager, L"tvusbsim", SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL));
    if (!service)
        return false;
    SERVICE_STATUS status{};
    for (DWORD waited = 0;; waited += 250) {
        if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING)
            break;
        if (status.dwCurrentState == SERVICE_STOPPED)
            StartServiceW(service.get(), 0, nullptr);
        if (waited >= kServiceWaitMs)
            return false;
        Sleep(250);
    }
    return ControlService(service.get(), kReenumerateRootDevices, &status) != FALSE;
}

bool WritePort(DWORD port) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    UniqueKey key(raw);
    return RegSetValueExW(key.get(), L"Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port),
                          sizeof(port)) == ERROR_SUCCESS;
}

// Creates and registers ROOT\TVUSBSIM\<slot>; an existing slot is left as it is.
bool CreateSlot(int slot) {
    UniqueDeviceInfoList list(SetupDiCreateDeviceInfoList(&kSystemClass, nullptr));
    if (list.get() == INVALID_HANDLE_VALUE) {
        list.release();
        return false;
    }
    wchar_t instance[64];
    std::swprintf(instance, 64, L"%ls\\%04d", kHardwareId, slot);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoW(list.get(), instance, &kSystemClass, nullptr, nullptr, 0, &device)) {
        return GetLastError() == ERROR_DEVINST_ALREADY_EXISTS;
    }
    // REG_MULTI_SZ: the id, then an empty string.
    std::wstring ids = std::wstring(kHardwareId) + L'\0' + L'\0';
    if (!SetupDiSetDeviceRegistryPropertyW(list.get(), &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size() * sizeof(wchar_t)))) {
        return false;
    }
    return SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &device) != FALSE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        std::fwprintf(stderr, L"usage: tvusbsim-install <tvusbsim.inf> [port]\n");
        return 2;
    }
    wchar_t inf[MAX_PATH];
    if (!GetFullPathNameW(argv[1], MAX_PATH, inf, nullptr)) {
        std::fwprintf(stderr, L"tvusbsim-install: bad INF path\n");
        return 2;
    }
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager || !WaitForServiceDatabase(manager.get())) {
        std::fwprintf(stderr, L"tvusbsim-install: service manager busy or unavailable\n");
        return 1;
    }
    // The driver starts during the driver install and connects at once: the port comes first.
    if (argc == 3) {
        const long port = std::wcstol(argv[2], nullptr, 10);
        if (port <= 0 || port > 65535 || !WritePort(static_cast<DWORD>(port))) {
            std::fwprintf(stderr, L"tvusbsim-install: cannot set port %ls\n", argv[2]);
            return 1;
        }
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!CreateSlot(slot)) {
            std::fwprintf(stderr, L"tvusbsim-install: slot %d: error %lu\n", slot, GetLastError());
            return 1;
        }
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, kHardwareId, inf, INSTALLFLAG_FORCE, &reboot)) {
        std::fwprintf(stderr, L"tvusbsim-install: driver install: error %lu\n", GetLastError());
        return 1;
    }
    if (!EnsureDriverRunning(manager.get())) {
        std::fwprintf(stderr, L"tvusbsim-install: driver not running: error %lu\n", GetLastError());
        return 1;
    }
    std::wprintf(L"tvusbsim-install: %d slots ready\n", kSlotCount);
    return 0;
}
