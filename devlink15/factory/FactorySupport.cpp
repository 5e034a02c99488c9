#include "FactorySupport.h"

#include "Handles.h"
#include "ItemName.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "UsbDevices.h"

#include <commctrl.h>
#include <setupapi.h>

#include <atomic>
#include <memory>

namespace devlink15 {
namespace {

// {B66756D6-C253-43B1-A065-80913EC5AC72}: the interface class of the device's own driver.
constexpr GUID kDeviceInterfaceClass = {
    0xb66756d6, 0xc253, 0x43b1, {0xa0, 0x65, 0x80, 0x91, 0x3e, 0xc5, 0xac, 0x72}};

std::atomic<SystemVersionSource> versionSource{nullptr};

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

std::string LoadText(HMODULE resources, UINT id) {
    char text[512] = {};
    if (!resources || LoadStringA(resources, id, text, sizeof(text)) <= 0)
        return {};
    return text;
}

tv::com::UniqueHKey OpenDeviceKey(const std::string& stringId) {
    HKEY key = nullptr;
    const std::string path = std::string(kDeviceListKey) + "\\" + stringId;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return {};
    return tv::com::UniqueHKey(key);
}

bool ReadNameValue(HKEY key, DWORD bufferSize, std::string& name) {
    std::string buffer(bufferSize, '\0');
    DWORD size = bufferSize;
    DWORD type = 0;
    if (RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    buffer.resize(size);
    name = buffer.c_str();
    return true;
}

// The state of one run of the device list dialog.
struct RegistrationDialog {
    HMODULE resources;
    std::string stringId;
    std::string name;
    bool guest = true;

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            auto* self = reinterpret_cast<RegistrationDialog*>(lParam);
            SetDlgItemTextA(dialog, IDC_DEVICE_NAME, self->stringId.c_str());
            CheckRadioButton(dialog, IDC_DEVICE_OWN, IDC_DEVICE_GUEST, IDC_DEVICE_GUEST);
            SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetForegroundWindow(dialog);
            return TRUE;
        }
        auto* self = reinterpret_cast<RegistrationDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (!self)
            return FALSE;
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            self->OnOk(dialog);
            return TRUE;
        }
        // Cancel, Escape and the close box do not close it: the device must get a name.
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
            return TRUE;
        if (message == WM_CLOSE)
            return TRUE;
        return FALSE;
    }

    void OnOk(HWND dialog) {
        char text[260] = {};
        GetDlgItemTextA(dialog, IDC_DEVICE_NAME, text, sizeof(text));
        std::string typed = text;
        if (typed.empty() || !tv::ValidateItemName(typed)) {
            MessageBoxA(dialog, LoadText(resources, IDS_DEVICE_NAME_INVALID).c_str(),
                        LoadText(resources, IDS_HUB_MESSAGE_CAPTION).c_str(), MB_OK | MB_ICONEXCLAMATION);
            SetDlgItemTextA(dialog, IDC_DEVICE_NAME, stringId.c_str());
            return;
        }
        name = typed;
        guest = IsDlgButtonChecked(dialog, IDC_DEVICE_GUEST) == BST_CHECKED;
        EndDialog(dialog, IDOK);
    }
};

} // namespace

HRESULT FactorySinks::Advise(IZvFactoryCallback* sink, long* cookie) {
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = static_cast<long>(sinks_.size());
    sinks_.emplace_back(sink); // the slot keeps its own reference, which UnAdvise gives back
    return S_OK;
}

HRESULT FactorySinks::UnAdvise(long cookie) {
    if (cookie < 0 || static_cast<size_t>(cookie) >= sinks_.size())
        return E_INVALIDARG;
    sinks_[static_cast<size_t>(cookie)].Reset();
    return S_OK;
}

std::vector<tv::com::ComPtr<IZvFactoryCallback>> FactorySinks::Present() const {
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> present;
    for (const auto& sink : sinks_)
        if (sink)
            present.push_back(sink);
    return present;
}

void FactorySinks::DeviceFound(const GUID& factory, IZvDevice* device) const {
    for (const auto& sink : Present()) {
        sink->OnDeviceFound(factory, device);
        OutputDebugStringA("Notification is sent\n");
    }
}

void FactorySinks::DeviceLost(const GUID& factory, const std::string& name) const {
    for (const auto& sink : Present())
        sink->OnDeviceLost(factory, const_cast<LPSTR>(name.c_str()));
}

bool ReadShortId(int deviceNumber, std::string& shortId) {
    UsbDeviceInfo info;
    if (!QueryUsbDeviceInfo(deviceNumber, info) || info.shortId.empty())
        return false;
    shortId = info.shortId;
    return true;
}

std::string StringIdOf(const std::string& shortId) {
    return "@" + shortId;
}

std::string InterfacePathOf(int deviceNumber) {
    const int index = DeviceClassIndexOf(deviceNumber);
    if (index < 0)
        return {};
    HDEVINFO set = SetupDiGetClassDevsA(&kDeviceInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return {};
    std::unique_ptr<void, decltype(&SetupDiDestroyDeviceInfoList)> closer(set, &SetupDiDestroyDeviceInfoList);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kDeviceInterfaceClass, static_cast<DWORD>(index), &data))
        return {};
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return {};
    std::vector<BYTE> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
        return {};
    return detail->DevicePath;
}

bool SamePath(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

DWORD SystemVersion() {
    if (SystemVersionSource source = versionSource.load())
        return source();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersion();
#pragma GCC diagnostic pop
}

void SetSystemVersionSource(SystemVersionSource source) {
    versionSource.store(source);
}

bool IsWindowsMe(DWORD packedVersion) {
    return LOBYTE(LOWORD(packedVersion)) == 4 && HIBYTE(LOWORD(packedVersion)) == 90;
}

bool IsLegacyRemovalSystem(DWORD packedVersion) {
    const BYTE major = LOBYTE(LOWORD(packedVersion));
    const BYTE minor = HIBYTE(LOWORD(packedVersion));
    return major == 4 && (minor == 10 || minor == 90);
}

bool IsDeviceRegistered(const std::string& stringId) {
    std::string name;
    return ReadDeviceName(stringId, name);
}

bool ReadDeviceName(const std::string& stringId, std::string& name) {
    tv::com::UniqueHKey key = OpenDeviceKey(stringId);
    return key && ReadNameValue(key.Get(), 512, name);
}

bool IsDeviceNameTaken(const std::string& name) {
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeviceListKey, 0, KEY_READ, &raw) != ERROR_SUCCESS)
        return false;
    tv::com::UniqueHKey list(raw);
    for (DWORD index = 0;; ++index) {
        char subkey[64] = {};
        DWORD length = sizeof(subkey);
        const LONG result = RegEnumKeyExA(list.Get(), index, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            return false;
        HKEY device = nullptr;
        if (RegOpenKeyExA(list.Get(), subkey, 0, KEY_READ, &device) != ERROR_SUCCESS)
            continue;
        tv::com::UniqueHKey deviceKey(device);
        std::string existing;
        if (ReadNameValue(deviceKey.Get(), 256, existing) && existing == name)
            return true;
    }
}

HRESULT WriteDeviceRegistration(const std::string& stringId, const std::string& name, bool isGuest) {
    HKEY raw = nullptr;
    const std::string path = std::string(kDeviceListKey) + "\\" + stringId;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                                  nullptr);
    if (result != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(result);
    tv::com::UniqueHKey key(raw);
    const DWORD guest = isGuest ? 1 : 0;
    const DWORD alert = 1;
    result = RegSetValueExA(key.Get(), "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                            static_cast<DWORD>(name.size() + 1));
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(key.Get(), "IsGuest", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&guest),
                                sizeof(guest));
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(key.Get(), "DisconnectionAlert", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&alert), sizeof(alert));
    return HRESULT_FROM_WIN32(result);
}

void RegisterNewDevice(const std::string& stringId) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    tv::com::UniqueModule resources(tv::LoadLanguageLibrary(ThisModule()));
    for (;;) {
        RegistrationDialog dialog{resources.Get(), stringId, {}, true};
        const INT_PTR shown = DialogBoxParamA(resources.Get(), MAKEINTRESOURCEA(IDD_DEVICE_REGISTRATION),
                                              GetActiveWindow(), &RegistrationDialog::Proc,
                                              reinterpret_cast<LPARAM>(&dialog));
        // Without its template the dialog cannot be asked: the device keeps its string id as name.
        if (shown <= 0) {
            WriteDeviceRegistration(stringId, stringId, true);
            return;
        }
        if (IsDeviceNameTaken(dialog.name)) {
            MessageBoxA(nullptr, LoadText(resources.Get(), IDS_DEVICE_NAME_TAKEN).c_str(),
                        LoadText(resources.Get(), IDS_HUB_MESSAGE_CAPTION).c_str(), MB_OK | MB_ICONEXCLAMATION);
            continue;
        }
        WriteDeviceRegistration(stringId, dialog.name, dialog.guest);
        return;
    }
}

} // namespace devlink15
