#include "SyncStateStore.h"

#include <algorithm>

namespace filesync {

StoreResult LoadSyncDatabase(SyncStateStore& store, FileSyncEngine& engine,
                             const std::optional<std::string>& builtInMask,
                             const std::function<void()>& rootKnown) {
    engine.SetStoredEntries({});
    engine.ForgetPersistedEntries();
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
    if (rootKnown)
        rootKnown();

    std::vector<FileEntry> items;
    result = store.ReadItems(items);
    // Only a whole, undamaged list can stand for what the store holds.
    if (result == StoreResult::Ok)
        engine.SetPersistedEntries(items);
    else
        engine.ForgetPersistedEntries();
    for (auto& item : items)
        item.flags = attribute;
    engine.SetStoredEntries(std::move(items));
    return result;
}

namespace {

bool SameStoredValues(const std::vector<FileEntry>& a, const std::vector<FileEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FileEntry& x, const FileEntry& y) {
        return x.name == y.name && x.time == y.time && x.size == y.size;
    });
}

} // namespace

StoreResult SaveSyncDatabase(SyncStateStore& store, FileSyncEngine& engine) {
    std::vector<FileEntry> items;
    items.reserve(engine.Items().size());
    for (const auto& item : engine.Items())
        items.push_back(FileEntry{item.storedName, item.storedTime, 0, item.storedSize});
    const auto& persisted = engine.PersistedEntries();
    if (persisted && SameStoredValues(*persisted, items))
        return StoreResult::Ok;
    const StoreResult result = store.WriteItems(items);
    if (result == StoreResult::Ok)
        engine.SetPersistedEntries(std::move(items));
    else
        engine.ForgetPersistedEntries();
    return result;
}

StoreResult SaveMasks(SyncStateStore& store, const std::vector<std::string>& oldMasks,
                      const std::vector<std::string>& newMasks) {
    auto findSame = [&store](std::vector<std::string>& masks, const std::string& mask) {
        return std::find_if(masks.begin(), masks.end(),
                            [&](const std::string& m) { return store.SameMask(m, mask); });
    };
    std::vector<std::string> wanted;
    for (const auto& mask : newMasks) {
        const auto same = findSame(wanted, mask);
        if (same != wanted.end())
            *same = mask;
        else
            wanted.push_back(mask);
    }
    std::vector<std::string> stored = oldMasks;
    for (const auto& mask : wanted) {
        const auto old = findSame(stored, mask);
        if (old != stored.end() && *old != mask) {
            if (store.DeleteMask(*old) == StoreResult::Failed)
                return StoreResult::Failed;
            stored.erase(old);
        }
        if (store.AddMask(mask) != StoreResult::Ok)
            return StoreResult::Failed;
    }
    for (const auto& mask : stored) {
        if (findSame(wanted, mask) != wanted.end())
            continue;
        if (store.DeleteMask(mask) == StoreResult::Failed)
            return StoreResult::Failed;
    }
    return StoreResult::Ok;
}

} // namespace filesync
