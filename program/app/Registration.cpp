#include "Registration.h"
#include "ComPtr.h"
#include "HResult.h"
#include "Handles.h"
#include "RegistryScript.h"
#include "ServerRegistration.h"
#include "ZelvanMgr.h"
#include <comcat.h>
#include <string>
#include <variant>
#include <vector>

namespace tv::app {
namespace {

using com::KeyMode;
using com::RegKey;

constexpr wchar_t kAppId[] = L"{65371BD6-49DE-49e7-B790-5D5F6BC62B2E}";
constexpr wchar_t kClassId[] = L"{56BB43E2-841C-49c9-9FDB-CF45AA55CF8D}";
constexpr wchar_t kTypeLibId[] = L"{0823ED96-93CD-469d-92A1-C487BA0F03AC}";
constexpr wchar_t kProgId[] = L"Tavrilon.ZelvanMgr.1";
constexpr wchar_t kVersionIndependentProgId[] = L"Tavrilon.ZelvanMgr";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kAutorunValue[] = "Tavrilon";

constexpr CATID kCategoryZelvanDevices = {0x689d87b0, 0x0ed4, 0x40f4, {0x9e, 0x7e, 0xc6, 0x2f, 0x57, 0xe3, 0x69, 0xa8}};
constexpr CATID kCategoryZvProperties = {0xc4ab9394, 0xbd09, 0x417e, {0xa9, 0xbc, 0x28, 0x02, 0xc6, 0xfe, 0x81, 0x74}};

// The default mail server and site of an installation.
constexpr wchar_t kDefaultMailServer[] = L"mail.zelvan.example";
constexpr wchar_t kDefaultSite[] = L"www.zelvan.example";

com::RegistryScript ClassScript(HMODULE module) {
    std::vector<RegKey> keys;
    keys.push_back({kProgId, KeyMode::Normal, {{L"", std::wstring(L"ZelvanMgr")}},
                    {{L"CLSID", KeyMode::Normal, {{L"", std::wstring(kClassId)}}, {}}}});
    keys.push_back({kVersionIndependentProgId, KeyMode::Normal, {{L"", std::wstring(L"ZelvanMgr")}},
                    {{L"CLSID", KeyMode::Normal, {{L"", std::wstring(kClassId)}}, {}},
                     {L"CurVer", KeyMode::Normal, {{L"", std::wstring(kProgId)}}, {}}}});
    RegKey classKey{kClassId,
                    KeyMode::ForceRemove,
                    {{L"", std::wstring(L"ZelvanMgr")}, {L"AppID", std::wstring(kAppId)}},
                    {{L"ProgID", KeyMode::Normal, {{L"", std::wstring(kProgId)}}, {}},
                     {L"VersionIndependentProgID", KeyMode::Normal, {{L"", std::wstring(kVersionIndependentProgId)}}, {}},
                     {L"Programmable", KeyMode::ForceRemove, {}, {}},
                     {L"LocalServer32", KeyMode::Normal, {{L"", std::wstring(L"%MODULE%")}}, {}},
                     {L"TypeLib", KeyMode::Normal, {{L"", std::wstring(kTypeLibId)}}, {}}}};
    keys.push_back({L"CLSID", KeyMode::NoRemove, {}, {std::move(classKey)}});
    keys.push_back({L"AppID",
                    KeyMode::NoRemove,
                    {},
                    {{kAppId, KeyMode::Normal, {{L"", std::wstring(L"Tavrilon")}}, {}},
                     {L"Tavrilon.exe", KeyMode::Normal, {{L"AppID", std::wstring(kAppId)}}, {}}}});
    return com::RegistryScript(HKEY_CLASSES_ROOT, std::move(keys), {{L"%MODULE%", com::ModulePath(module)}});
}

HRESULT CategoryRegistrar(com::ComPtr<ICatRegister>& registrar) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                            reinterpret_cast<void**>(&registrar));
}

HRESULT RegisterCategories() {
    com::ComPtr<ICatRegister> registrar;
    TV_RETURN_IF_FAILED(CategoryRegistrar(registrar));
    CATEGORYINFO infos[2] = {};
    infos[0].catid = kCategoryZelvanDevices;
    infos[0].lcid = 1033;
    lstrcpynW(infos[0].szDescription, L"Zelvan Devices", ARRAYSIZE(infos[0].szDescription));
    infos[1].catid = kCategoryZvProperties;
    infos[1].lcid = 1033;
    lstrcpynW(infos[1].szDescription, L"ZvProperties", ARRAYSIZE(infos[1].szDescription));
    return registrar->RegisterCategories(2, infos);
}

HRESULT UnregisterCategories() {
    com::ComPtr<ICatRegister> registrar;
    TV_RETURN_IF_FAILED(CategoryRegistrar(registrar));
    CATID ids[2] = {kCategoryZelvanDevices, kCategoryZvProperties};
    return registrar->UnRegisterCategories(2, ids);
}

// One default of the settings tree: a key below the settings key and its values.
struct SettingsDefault {
    std::wstring key;
    std::vector<com::RegValue> values;
};

std::vector<SettingsDefault> SettingsDefaults() {
    const std::wstring site = std::wstring(L"SiteList\\") + kDefaultSite;
    return {
        {L"DeviceList", {}},
        {L"Common", {{L"BackupFolder", std::wstring(L"My ZvBackups")}, {L"FileSyncFolder", std::wstring(L"My ZvFiles")}}},
        {L"ZvCapLinker", {{L"ScriptLang", std::wstring(L"JScript")}}},
        {L"ZvSyncHost", {{L"ScriptLang", std::wstring(L"JScript")}}},
        {L"Namespace", {}},
        {L"ZvSyncMgr", {}},
        {L"POP3", {{L"", std::wstring(kDefaultMailServer)}, {L"port", DWORD{1552}}}},
        {L"SMTP", {{L"", std::wstring(kDefaultMailServer)}, {L"port", DWORD{1551}}}},
        {site, {{L"getter", std::wstring(L"tavrilon/getter.asp")}, {L"putter", std::wstring(L"tavrilon/putter.asp")}}},
    };
}

LONG WriteMissingValue(HKEY key, const com::RegValue& value) {
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    if (const auto* text = std::get_if<std::wstring>(&value.data))
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                              static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
    const DWORD number = std::get<DWORD>(value.data);
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

std::string ModuleImage() {
    char image[1024] = {};
    DWORD size = sizeof(image) - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "Image", RRF_RT_REG_SZ, nullptr, image, &size) != ERROR_SUCCESS)
        return {};
    return image;
}

} // namespace

HRESULT RegisterServer(HMODULE module) {
    TV_RETURN_IF_FAILED(ClassScript(module).Register());
    TV_RETURN_IF_FAILED(com::RegisterModuleTypeLib(module));
    return RegisterCategories();
}

HRESULT UnregisterServer(HMODULE module) {
    HRESULT hr = ClassScript(module).Unregister();
    const HRESULT typeLib = com::UnregisterModuleTypeLib(module);
    if (SUCCEEDED(hr))
        hr = typeLib;
    UnregisterCategories();
    return hr;
}

HRESULT ApplySettingsDefaults() {
    const std::wstring root = L"Software\\Zelvan\\Tavrilon\\";
    for (const SettingsDefault& entry : SettingsDefaults()) {
        com::UniqueHKey key;
        LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, (root + entry.key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, key.Put(), nullptr);
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        for (const com::RegValue& value : entry.values) {
            status = WriteMissingValue(key.Get(), value);
            if (status != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(status);
        }
    }
    return S_OK;
}

HRESULT RemoveSettings() {
    const LONG status = RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    return HRESULT_FROM_WIN32(RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey));
}

HRESULT EnableAutorun() {
    const std::string image = ModuleImage();
    if (image.empty())
        return S_FALSE;
    const std::string command = image + " /NoSplash";
    return HRESULT_FROM_WIN32(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, kAutorunValue, REG_SZ, command.c_str(),
                                              static_cast<DWORD>(command.size() + 1)));
}

HRESULT DisableAutorun() {
    const LSTATUS status = RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, kAutorunValue);
    return status == ERROR_FILE_NOT_FOUND ? S_FALSE : HRESULT_FROM_WIN32(status);
}

bool IsAutorunEnabled() {
    return RegGetValueA(HKEY_LOCAL_MACHINE, kRunKey, kAutorunValue, RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

} // namespace tv::app
