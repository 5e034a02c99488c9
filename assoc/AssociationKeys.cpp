#include "AssociationKeys.h"
#include "Handles.h"
#include <cstdio>
#include <vector>

namespace tv::assoc {
namespace {

constexpr char kSettingsKey[] = "Software\\Zelvan\\Tavrilon";

std::string ProgIdOf(const std::string& extension) { return kAssociationPrefix + extension; }

bool SetDefaultValue(HKEY root, const std::string& subKey, const std::string& value) {
    com::UniqueHKey key;
    if (RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const std::string& subKey) {
    com::UniqueHKey key;
    return RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

bool StartsWithPrefix(const std::string& value) {
    return value.compare(0, sizeof(kAssociationPrefix) - 1, kAssociationPrefix) == 0;
}

} // namespace

std::string ProgramImagePath() {
    std::string image;
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return image;
    char buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueA(key.Get(), nullptr, "Image", RRF_RT_REG_SZ, nullptr, buffer, &size) == ERROR_SUCCESS)
        image = buffer;
    return image;
}

bool ReadDefaultValue(HKEY root, const std::string& subKey, std::string& value) {
    value.clear();
    const char* sub = subKey.empty() ? nullptr : subKey.c_str();
    constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    // Most values fit the first buffer: one read each (the type list reads hundreds of them).
    char small[512];
    DWORD size = sizeof(small);
    LSTATUS status = RegGetValueA(root, sub, nullptr, kFlags, nullptr, small, &size);
    if (status == ERROR_SUCCESS) {
        value = small;
        return true;
    }
    if (status != ERROR_MORE_DATA)
        return false;
    std::vector<char> buffer(size + 1, 0);
    if (RegGetValueA(root, sub, nullptr, kFlags, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return false;
    value = buffer.data();
    return true;
}

std::string ManagerOpenCommand(const std::string& programPath) { return "\"" + programPath + "\" \"%1\""; }

std::string HandlerOpenCommand(const std::string& programPath) {
    return "\"" + programPath + "\" \"/FileOpen %1\"";
}

HRESULT WriteAssociationKeys(HKEY root, const AssociationBinding& binding) {
    const std::string progId = ProgIdOf(binding.type.extension);
    char icon[MAX_PATH + 32] = {};
    std::snprintf(icon, sizeof(icon), "%s,%ld", binding.type.iconSource.c_str(), binding.type.iconIndex);
    bool written = SetDefaultValue(root, binding.type.extension, progId) &&
                   SetDefaultValue(root, progId, binding.type.description) &&
                   SetDefaultValue(root, progId + "\\DefaultIcon", icon) &&
                   SetDefaultValue(root, progId + "\\shell\\open\\command", binding.openCommand);
    if (written && binding.withDde) {
        const std::string dde = progId + "\\shell\\open\\ddeexec";
        written = SetDefaultValue(root, dde, "[FileOpen(\"%1\")]") &&
                  SetDefaultValue(root, dde + "\\Application", binding.ddeApplication) &&
                  SetDefaultValue(root, dde + "\\Topic", binding.ddeTopic);
    }
    return written ? S_OK : E_FAIL;
}

bool IsBoundToSuite(HKEY root, const std::string& extension, std::string* value) {
    std::string progId;
    const bool read = ReadDefaultValue(root, extension, progId);
    if (value)
        *value = progId;
    return read && StartsWithPrefix(progId);
}

HRESULT RemoveAssociationKeys(HKEY root, const std::string& extension) {
    const std::string progId = ProgIdOf(extension);
    std::string named;
    const bool ours = ReadDefaultValue(root, extension, named) && named == progId;
    // Deleting a tree with a sub-key name removes the key itself too.
    RegDeleteTreeA(root, progId.c_str());
    if (ours)
        RegDeleteTreeA(root, extension.c_str());
    const bool left = KeyExists(root, progId) || (ours && KeyExists(root, extension));
    return left ? E_FAIL : S_OK;
}

} // namespace tv::assoc
