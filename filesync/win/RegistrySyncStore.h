// The stored state of one device in the registry of the current user, under
// "Software\Zelvan\Tavrilon\DeviceList\<device id>\SyncDataBase": "SyncFolder", "dwAttribute",
// the subkey "Masks" (masks are its value names) and one subkey "Item<n>" per stored item.
#pragma once
#include "SyncStateStore.h"
#include "TransferRules.h"

#include <windows.h>
#include <string>
#include <vector>

namespace tv::filesync {

inline constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";
inline constexpr char kStateKeyName[] = "SyncDataBase";
inline constexpr char kCommonKey[] = "Software\\Zelvan\\Tavrilon\\Common";

// Whether two registry names are one: the registry compares names without regard to case.
bool SameRegistryName(const std::string& a, const std::string& b);

// The registry path of the device's state key (relative to HKEY_CURRENT_USER).
std::string StateKeyPath(const std::string& deviceId);

// A REG_SZ value read whole and terminated; false when the key or value is missing or the value
// is not a string.
bool ReadRegistryText(HKEY root, const std::string& keyPath, const char* name, std::string& text);

// One item key as a whole reading found it: its name, its last-write time and the item it held.
struct StoredItemKey {
    std::wstring name;
    FILETIME written = {};
    ::filesync::FileEntry item;
};

// The stored items one device's store last read or wrote whole, with the state key's last-write
// time and subkey count at that moment. Item keys are written only by the synchronizer, which
// rewrites them all, so an unchanged key still holds these items and a session need not read
// one key per item again; any write to the state key or its list of subkeys makes it stale.
// After a reading, `keys` also holds the item keys whose last-write time lay well before the
// reading: when the state key has changed, such a key whose time is still the same holds the
// same item, and only the other keys are read again. A write leaves `keys` empty.
struct StoredItemsMemo {
    std::string deviceId;
    FILETIME written = {};
    DWORD subkeys = 0;
    std::vector<::filesync::FileEntry> items;
    std::vector<StoredItemKey> keys;
    bool valid = false;
};

class RegistrySyncStore : public ::filesync::SyncStateStore {
public:
    // With a memo, items read or written are remembered there and read from it while the state
    // key is unchanged.
    explicit RegistrySyncStore(std::string deviceId, StoredItemsMemo* memo = nullptr)
        : deviceId_(std::move(deviceId)), memo_(memo) {}

    ::filesync::StoreResult ReadHeader(std::string& root, uint32_t& attribute) override;
    ::filesync::StoreResult ReadMasks(std::vector<std::string>& masks) override;
    ::filesync::StoreResult ReadItems(std::vector<::filesync::FileEntry>& items) override;
    ::filesync::StoreResult WriteItems(const std::vector<::filesync::FileEntry>& items) override;
    ::filesync::StoreResult AddMask(const std::string& mask) override;
    ::filesync::StoreResult DeleteMask(const std::string& mask) override;
    bool SameMask(const std::string& a, const std::string& b) const override;

    // "SyncFolder" alone, for the settings dialogs.
    ::filesync::StoreResult ReadFolder(std::string& folder);
    LONG WriteFolder(const std::string& folder);

private:
    bool MemoHolds(HKEY key) const;
    void Remember(HKEY key, const std::vector<::filesync::FileEntry>& items);

    std::string deviceId_;
    StoredItemsMemo* memo_;
};

// The folder names a generation keeps under the synchronization root, and the built-in mask of
// the 1.5 generation (empty for 1.0).
struct GenerationFolders {
    std::vector<std::string> subfolders;
    std::string builtInMask;
};

// Creates every directory along `path` (each prefix ending at a "\", then the whole path),
// ignoring failures.
void CreateDirectoryPath(const std::string& path);

// Creates the device's stored state and PC folders when the shared folder setting exists: the
// state key with "SyncFolder" (the documents folder, the shared folder name, the device id),
// "dwAttribute" 0 and an empty "Masks", then the root and the generation's subfolders.
void LoadSyncFolderData(const std::string& deviceId, const GenerationFolders& folders);

} // namespace tv::filesync
