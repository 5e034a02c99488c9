#include "Device10Support.h"
#include "Handles.h"
#include "LanguageLibrary.h"

#include <objbase.h>

#include <cstring>
#include <vector>

namespace devlink10 {

HMODULE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

std::string LangString(UINT id) {
    tv::com::UniqueModule library(tv::LoadLanguageLibrary(ThisModule()));
    char text[1024] = {};
    if (library && ::LoadStringA(library.Get(), id, text, sizeof text) > 0)
        return text;
    return {};
}

std::string LanguageLibraryPath() { return tv::BuildLanguageLibraryPath(ThisModule()); }

std::string ModulePath() {
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(ThisModule(), path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

bool CopyOut(const std::string& text, long nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0 || text.size() >= static_cast<size_t>(nMaxLen))
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

void CopyError(const std::string& text, long nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0)
        return;
    const size_t length = std::min(text.size(), static_cast<size_t>(nMaxLen - 1));
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
}

namespace {

std::string DeviceKeyPath(const std::string& id) { return std::string(kDeviceListKey) + "\\" + id; }

bool ReadName(HKEY key, const char* subKey, std::string& name) {
    char buffer[512] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueA(key, subKey, "Name", RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    name = buffer;
    return true;
}

} // namespace

bool ReadDeviceName(const std::string& id, std::string& name) {
    return ReadName(HKEY_CURRENT_USER, DeviceKeyPath(id).c_str(), name);
}

bool IsNameTakenByOther(const std::string& name, const std::string& exceptId) {
    HKEY list = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kDeviceListKey, 0, KEY_READ, &list) != ERROR_SUCCESS)
        return false;
    bool taken = false;
    char subKey[256];
    for (DWORD index = 0; !taken; ++index) {
        DWORD length = sizeof subKey;
        if (::RegEnumKeyExA(list, index, subKey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string other;
        taken = exceptId != subKey && ReadName(list, subKey, other) && other == name;
    }
    ::RegCloseKey(list);
    return taken;
}

LSTATUS WriteDeviceName(const std::string& id, const std::string& name) {
    return ::RegSetKeyValueA(HKEY_CURRENT_USER, DeviceKeyPath(id).c_str(), "Name", REG_SZ, name.c_str(),
                             static_cast<DWORD>(name.size() + 1));
}

LSTATUS WriteDeviceRegistration(const std::string& id, const std::string& name, DWORD isGuest) {
    if (LSTATUS status = WriteDeviceName(id, name); status != ERROR_SUCCESS)
        return status;
    const DWORD alert = 1;
    const std::string path = DeviceKeyPath(id);
    ::RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "IsGuest", REG_DWORD, &isGuest, sizeof isGuest);
    return ::RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "DisconnectionAlert", REG_DWORD, &alert, sizeof alert);
}

} // namespace devlink10
