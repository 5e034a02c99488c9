#include "RegistryScript.h"
#include "Handles.h"
#include "HResult.h"
#include <objbase.h>

namespace tv::com {

RegistryScript::RegistryScript(HKEY root, std::vector<RegKey> keys, Substitutions substitutions)
    : root_(root), keys_(std::move(keys)), substitutions_(std::move(substitutions)) {}

std::wstring RegistryScript::Expand(const std::wstring& text) const {
    std::wstring result = text;
    for (const auto& [placeholder, value] : substitutions_) {
        size_t pos = 0;
        while ((pos = result.find(placeholder, pos)) != std::wstring::npos) {
            result.replace(pos, placeholder.size(), value);
            pos += value.size();
        }
    }
    return result;
}

HRESULT RegistryScript::Register() const {
    for (const RegKey& key : keys_)
        TV_RETURN_IF_FAILED(RegisterKey(root_, key));
    return S_OK;
}

HRESULT RegistryScript::Unregister() const {
    HRESULT result = S_OK;
    for (const RegKey& key : keys_) {
        HRESULT hr = UnregisterKey(root_, key);
        if (FAILED(hr))
            result = hr;
    }
    return result;
}

HRESULT RegistryScript::RegisterKey(HKEY parent, const RegKey& key) const {
    const std::wstring name = Expand(key.name);
    if (key.mode == KeyMode::ForceRemove) {
        LONG status = RegDeleteTreeW(parent, name.c_str());
        if (status == ERROR_SUCCESS)
            RegDeleteKeyW(parent, name.c_str());
        else if (status != ERROR_FILE_NOT_FOUND)
            return Win32ToHResult(status);
    }
    UniqueHKey handle;
    TV_RETURN_IF_FAILED(Win32ToHResult(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0,
                                                       KEY_READ | KEY_WRITE, nullptr, handle.Put(), nullptr)));
    for (const RegValue& value : key.values) {
        LONG status;
        if (const auto* text = std::get_if<std::wstring>(&value.data)) {
            const std::wstring expanded = Expand(*text);
            status = RegSetValueExW(handle.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(expanded.c_str()),
                                    static_cast<DWORD>((expanded.size() + 1) * sizeof(wchar_t)));
        } else if (const auto* bytes = std::get_if<RegBinary>(&value.data)) {
            status = RegSetValueExW(handle.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_BINARY,
                                    bytes->data(), static_cast<DWORD>(bytes->size()));
        } else {
            DWORD number = std::get<DWORD>(value.data);
            status = RegSetValueExW(handle.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&number), sizeof(number));
        }
        TV_RETURN_IF_FAILED(Win32ToHResult(status));
    }
    for (const RegKey& child : key.subkeys)
        TV_RETURN_IF_FAILED(RegisterKey(handle.Get(), child));
    return S_OK;
}

HRESULT RegistryScript::UnregisterKey(HKEY parent, const RegKey& key) const {
    const std::wstring name = Expand(key.name);
    if (key.mode == KeyMode::ForceRemove) {
        LONG status = RegDeleteTreeW(parent, name.c_str());
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyW(parent, name.c_str());
        if (status == ERROR_FILE_NOT_FOUND)
            return S_OK;
        return Win32ToHResult(status);
    }
    UniqueHKey handle;
    LONG status = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, handle.Put());
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    TV_RETURN_IF_FAILED(Win32ToHResult(status));
    HRESULT result = S_OK;
    for (const RegKey& child : key.subkeys) {
        HRESULT hr = UnregisterKey(handle.Get(), child);
        if (FAILED(hr))
            result = hr;
    }
    if (key.mode == KeyMode::NoRemove)
        return result;
    for (const RegValue& value : key.values)
        RegDeleteValueW(handle.Get(), value.name.empty() ? nullptr : value.name.c_str());
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0) {
        handle.Reset();
        RegDeleteKeyW(parent, name.c_str());
    }
    return result;
}

std::wstring GuidToString(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace tv::com
