#include "SyncStateStore.h"

#include <unordered_set>

namespace filesync {

StoreResult LoadSyncDatabase(SyncStateStore& store, FileSyncEngine& engine,
                             const std::optional<std::string>& builtInMask) {
    engine.SetStoredEntries({});
    std::vector<std::string> masks;
    StoreResult result = store.ReadMasks(masks);
    if (result != StoreResult::Ok)
        return result;
    if (builtInMask)
        masks.insert(masks.begin(), *builtInMask);
    engine.SetMasks(std::move(masks));

    std::string root;
    uint32_t attribute = 0;
    result = store.ReadHeader(root, attribute);
    if (result != StoreResult::Ok)
        return result;
    engine.SetRoot(std::move(root));

    std::vector<FileEntry> items;
    result = store.ReadItems(items);
    for (auto& item : items)
        item.flags = attribute;
    engine.SetStoredEntries(std::move(items));
    return result;
}

StoreResult SaveSyncDatabase(SyncStateStore& store, const FileSyncEngine& engine) {
    std::vector<FileEntry> items;
    items.reserve(engine.Items().size());
    for (const auto& item : engine.Items())
        items.push_back(FileEntry{item.storedName, item.storedTime, 0, item.storedSize});
    return store.WriteItems(items);
}

StoreResult SaveMasks(SyncStateStore& store, const std::vector<std::string>& oldMasks,
                      const std::vector<std::string>& newMasks) {
    for (const auto& mask : newMasks) {
        if (store.AddMask(mask) != StoreResult::Ok)
            return StoreResult::Failed;
    }
    const std::unordered_set<std::string> kept(newMasks.begin(), newMasks.end());
    for (const auto& mask : oldMasks) {
        if (kept.count(mask) != 0)
            continue;
        if (store.DeleteMask(mask) == StoreResult::Failed)
            return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

} // namespace filesync
