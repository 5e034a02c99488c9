// Where backup sets live and what the user chose per device: the backup folder under the
// documents folder, the per-device flag word, the proposed name of a new set and the search for
// a device's sets.
#pragma once
#include "ZelvanMgr.h"
#include <windows.h>
#include <string>
#include <vector>

namespace tv::backup {

// The backup folder (created level by level when missing); "." when the documents folder is
// unknown.
std::string GetBackupFolder(const std::string& separator);

// The device's "BackupFlags" (0 when missing) and its writing (the key is created when missing).
DWORD ReadBackupFlags(const std::string& deviceId);
bool WriteBackupFlags(const std::string& deviceId, DWORD flags);

// The proposed name of a new set for the device: string 12258 with the device's name as the hub
// gives it and today's date ("MMMM_d_yyyy" in the user's locale).
std::string MakeBackupSetName(HMODULE language, IZelvanMgr* hub, const std::string& deviceId);

// The set files (not folders) of the backup folder, as full paths in the order found.
std::vector<std::string> FindSetFiles(const std::string& folder, const std::string& separator,
                                      const std::string& suffix);

// Whether the set file was made from the device (the package-archive component's check).
bool IsSetFileOfDevice(const std::string& deviceId, const std::string& path);

// Creates the hub in the program's local server.
HRESULT CreateLocalHub(REFIID iid, void** out);
template <class T>
HRESULT CreateLocalHub(T** out) {
    return CreateLocalHub(__uuidof(T), reinterpret_cast<void**>(out));
}

// The display name of a device: "name<id>", the id alone when there is no name, the name alone
// when it equals the id.
std::string DisplayName(const std::string& name, const std::string& id);

// The device's name as the hub knows it; empty when it knows none.
std::string DeviceNameOf(IZelvanMgr* hub, const std::string& deviceId);

} // namespace tv::backup
