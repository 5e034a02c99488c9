// The generation-independent core of the file synchronization engine: the listings, the masks,
// the three-way merge into synchronization items, and the result list that copies update.
#pragma once
#include "SyncTypes.h"

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace filesync {

class FileSyncEngine {
public:
    // Called with the PC name of an item left out because the device marks it excluded.
    using ExcludedNotice = std::function<void(const std::string&)>;

    void Clear();

    void SetMasks(std::vector<std::string> masks) { masks_ = std::move(masks); }
    const std::vector<std::string>& Masks() const { return masks_; }
    void SetRoot(std::string root) { root_ = std::move(root); }
    const std::string& Root() const { return root_; }
    void SetStoredEntries(std::vector<FileEntry> stored) { stored_ = std::move(stored); }
    void SetPcEntries(std::vector<FileEntry> pc) { pc_ = std::move(pc); }
    void SetExcludedNotice(ExcludedNotice notice) { excludedNotice_ = std::move(notice); }

    // Replaces the device folder list; names that cannot be PC folder names (tv::portable's rule)
    // are dropped.
    void SetDeviceFolders(const std::vector<std::string>& folders);
    bool HasDeviceFolder(const std::string& folder) const;
    void AddDeviceFolder(const std::string& folder);

    // Keeps the device files that are on the PC too or match a mask; the excluded list becomes
    // `excluded`. Of those files, the ones whose names cannot be PC file names (tv::portable's
    // rule: no device names such as CON or COM1, no trailing dot or space, nothing that leaves
    // the root) are left out; their number is returned so that the session can say so.
    size_t FilterDeviceItems(const std::vector<FileEntry>& deviceFiles, const std::vector<FileEntry>& excluded);

    // Builds the result list from the PC, device and stored lists.
    void MergeSyncLists();

    void GetSyncItems(std::vector<SyncItem>& out) const { out.insert(out.end(), items_.begin(), items_.end()); }
    const std::vector<SyncItem>& Items() const { return items_; }
    void AddSyncItem(SyncItem item);
    bool RemoveSyncItem(size_t position);
    size_t CountItemsByFlag(uint32_t mask) const;
    bool IsExcludedItem(const std::string& name) const;

    // Copies the state of a copied item into the result item of the same index. False when no
    // result item has that index.
    bool UpdateSyncItem(const SyncItem& item);

    const std::vector<FileEntry>& DeviceEntries() const { return device_; }
    const std::vector<FileEntry>& StoredEntries() const { return stored_; }

    // The stored items as the store holds them since this engine last read or wrote them whole
    // (null when unknown), so that a save with nothing new leaves the store alone.
    void SetPersistedEntries(std::vector<FileEntry> entries) { persisted_ = std::move(entries); }
    void ForgetPersistedEntries() { persisted_.reset(); }
    const std::optional<std::vector<FileEntry>>& PersistedEntries() const { return persisted_; }

private:
    bool MatchesAnyMask(const std::string& name) const;

    std::vector<std::string> masks_;
    std::vector<SyncItem> items_;
    std::vector<std::string> deviceFolders_;
    std::vector<FileEntry> pc_;
    std::vector<FileEntry> device_;
    std::vector<FileEntry> stored_;
    std::vector<FileEntry> excluded_;
    std::unordered_set<std::string> excludedNames_; // the excluded list's names, for lookups
    std::optional<std::vector<FileEntry>> persisted_;
    std::string root_;
    ExcludedNotice excludedNotice_;
};

} // namespace filesync
