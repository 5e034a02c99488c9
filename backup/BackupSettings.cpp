#include "BackupSettings.h"
#include "AnsiText.h"
#include "BackupIds.h"
#include "BackupSetStore.h"
#include "BackupTexts.h"
#include "Handles.h"
#include "SetNames.h"
#include <shlobj.h>

namespace tv::backup {

namespace {

constexpr char kCommonKey[] = "Software\\Zelvan\\Tavrilon\\Common";
constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList\\";

// Creates every level of `path` in turn; a level that exists is fine, another failure stops.
void CreateFolderLevels(const std::string& path) {
    for (size_t at = path.find('\\', 3); ; at = path.find('\\', at + 1)) {
        const std::string level = at == std::string::npos ? path : path.substr(0, at);
        if (!level.empty() && !CreateDirectoryA(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return;
        if (at == std::string::npos)
            return;
    }
}

} // namespace

std::string GetBackupFolder(const std::string& separator) {
    char documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                documents)))
        return ".";
    std::string folder = documents;
    char value[261] = {};
    DWORD size = sizeof(value) - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, kCommonKey, "BackupFolder", RRF_RT_REG_SZ, nullptr, value, &size) ==
            ERROR_SUCCESS &&
        value[0])
        folder += separator + value;
    CreateFolderLevels(folder);
    return folder;
}

DWORD ReadBackupFlags(const std::string& deviceId) {
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (RegGetValueA(HKEY_CURRENT_USER, (kDeviceListKey + deviceId).c_str(), "BackupFlags", RRF_RT_REG_DWORD,
                     nullptr, &flags, &size) != ERROR_SUCCESS)
        return 0;
    return flags;
}

bool WriteBackupFlags(const std::string& deviceId, DWORD flags) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (kDeviceListKey + deviceId).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &raw, nullptr) != ERROR_SUCCESS)
        return false;
    com::UniqueHKey key(raw);
    return RegSetValueExA(key.Get(), "BackupFlags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags),
                          sizeof(flags)) == ERROR_SUCCESS;
}

std::string DeviceNameOf(IZelvanMgr* hub, const std::string& deviceId) {
    unsigned char name[260] = {};
    std::string id = deviceId;
    if (!hub || hub->GetDeviceNameByID(id.data(), sizeof(name), name) != S_OK)
        return {};
    return reinterpret_cast<char*>(name);
}

std::string MakeBackupSetName(HMODULE language, IZelvanMgr* hub, const std::string& deviceId) {
    const std::string pattern = LoadText(language, IDS_BACKUP_SET_PATTERN);
    char date[128] = {};
    if (GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "MMMM'_'d'_'yyyy", date, sizeof(date)) <= 0)
        return pattern;
    const std::wstring name = FormatSetName(com::FromAnsi(pattern), com::FromAnsi(DeviceNameOf(hub, deviceId)),
                                            com::FromAnsi(date));
    return com::TerminatedToAnsi(name.c_str());
}

std::vector<std::string> FindSetFiles(const std::string& folder, const std::string& separator,
                                      const std::string& suffix) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data = {};
    HANDLE search = FindFirstFileA((folder + separator + "*" + suffix).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            found.push_back(folder + separator + data.cFileName);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return found;
}

bool IsSetFileOfDevice(const std::string& deviceId, const std::string& path) {
    com::UniqueBstr id = com::AnsiToUniqueBstr(deviceId);
    com::UniqueBstr file = com::AnsiToUniqueBstr(path);
    return id && file && IsSetOfDevice(id.Get(), file.Get()) == S_OK;
}

HRESULT CreateLocalHub(REFIID iid, void** out) {
    return CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, iid, out);
}

std::string DisplayName(const std::string& name, const std::string& id) {
    if (name.empty())
        return id;
    if (name == id)
        return name;
    return name + "<" + id + ">";
}

} // namespace tv::backup
