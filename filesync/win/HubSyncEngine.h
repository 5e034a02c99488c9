// The file synchronization engine of one device generation over the hub: the portable core's
// lists and decisions, the stored state in the registry, the PC folder on disk, and the device
// reached through IZelvanMgr by paths that start with the device's string id.
#pragma once
#include "FileSyncEngine.h"
#include "RegistrySyncStore.h"
#include "TransferRules.h"
#include "ZelvanMgr.h"

#include <windows.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tv::filesync {

// TransferItem's success code for a device without room for the file.
inline constexpr HRESULT kNoRoom = 8;
// TransferItem's failure for a PC file too large to be synchronized.
inline constexpr HRESULT kFileTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
// TransferItem's failure when the session was stopped before the copy could start.
inline constexpr HRESULT kStopped = HRESULT_FROM_WIN32(ERROR_CANCELLED);

// A language-library pattern with up to two "%s" filled in.
std::string FormatText(const std::string& pattern, const std::string& first, const std::string& second = {});

// Reads a device listing in batches of records until the enumerator stops; the records' strings
// are freed here.
void ReadDeviceListing(IZvEnumFileItems* items, std::vector<::filesync::DeviceListingEntry>& listing);

using TextSource = std::function<std::string(UINT)>;

// The generation's subfolders of the root and, for 1.5, its built-in mask.
GenerationFolders GenerationFoldersOf(::filesync::Generation generation, const TextSource& texts);

class HubSyncEngine {
public:
    HubSyncEngine(::filesync::Generation generation, TextSource texts);
    virtual ~HubSyncEngine() = default;

    ::filesync::Generation Generation() const { return generation_; }
    const GenerationFolders& Folders() const { return folders_; }
    ::filesync::FileSyncEngine& Core() { return core_; }

    void Clear() { core_.Clear(); }
    void LoadSyncFolderData(const std::string& deviceId) const;
    // `rootKnown` as ::filesync::LoadSyncDatabase takes it.
    HRESULT LoadSyncDatabase(const std::string& deviceId, const std::function<void()>& rootKnown = {});
    HRESULT ScanPcFolder(const std::string& folder);
    HRESULT SetDeviceFolders(const std::vector<std::string>& folders);
    // The number of device names refused as unsafe is added to `refused`.
    HRESULT FilterDeviceItems(const std::vector<::filesync::FileEntry>& files,
                              const std::vector<::filesync::FileEntry>& excluded, size_t& refused);
    HRESULT MergeSyncLists();
    HRESULT SaveSyncDatabase(const std::string& deviceId);

    // Starts the copy of one item in its direction: S_OK (started), E_FAIL, E_PENDING (the
    // device lacks the folder), kNoRoom, kFileTooLarge, kStopped, or the hub's failure. `stopped`
    // is asked after each device call; once it holds, no copy starts.
    HRESULT TransferItem(IZelvanMgr* hub, const std::string& deviceId, IZvFileOperationCallback* listener,
                         const ::filesync::SyncItem& item, const std::function<bool()>& stopped);
    // Polls "id " until the reply carries "@": at once, then every 500 ms, at most 51 times.
    HRESULT WaitForDeviceReady(IZelvanMgr* hub, const std::string& deviceId);
    // Records a copied item from a fresh listing of the device: the PC file takes the device copy's
    // time and the result item every value. A copy missing from the listing, or a PC time that
    // cannot be set, fails and changes nothing.
    HRESULT UpdateSyncItem(IZelvanMgr* hub, const std::string& deviceId, const ::filesync::SyncItem& item);

private:
    HRESULT PrepareDeviceFolders(IZelvanMgr* hub, const std::string& deviceId, const std::string& pcName);
    // The device entries that can show the copied item: the whole device for 1.0, the folders of
    // the item's names for 1.5, each entry named by its path below the device root.
    HRESULT FreshListing(IZelvanMgr* hub, const std::string& deviceId, const ::filesync::SyncItem& item,
                         std::vector<::filesync::DeviceListingEntry>& listing);
    HRESULT CheckRoom(IZelvanMgr* hub, const std::string& deviceId, const std::string& name, uint64_t size);

    ::filesync::Generation generation_;
    TextSource texts_;
    GenerationFolders folders_;
    ::filesync::FileSyncEngine core_;
    // Kept from session to session for every device served: the stored items need not be read
    // again while unchanged, also after sessions with other devices in between.
    std::map<std::string, StoredItemsMemo> storedItems_;
};

// The two generations: 1.0 keeps one subfolder and copies to the device only into folders it has;
// 1.5 keeps two subfolders and a built-in mask and creates missing folders on both sides.
class FileSyncEngine10 : public HubSyncEngine {
public:
    explicit FileSyncEngine10(TextSource texts) : HubSyncEngine(::filesync::Generation::V10, std::move(texts)) {}
};
class FileSyncEngine15 : public HubSyncEngine {
public:
    explicit FileSyncEngine15(TextSource texts) : HubSyncEngine(::filesync::Generation::V15, std::move(texts)) {}
};

} // namespace tv::filesync
