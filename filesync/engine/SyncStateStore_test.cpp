#include "SyncStateStore.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace filesync;

namespace {

// The stored state in memory, with switches for the failures the registry can give.
class MemoryStore : public SyncStateStore {
public:
    bool hasKey = true;
    bool hasMasks = true;
    std::string root = "C:\\Sync\\dev";
    uint32_t attribute = 0;
    std::vector<std::string> masks;
    std::vector<FileEntry> items;
    size_t damagedAt = SIZE_MAX;
    size_t writableItems = SIZE_MAX;
    std::vector<std::string> operations;

    StoreResult ReadHeader(std::string& outRoot, uint32_t& outAttribute) override {
        if (!hasKey)
            return StoreResult::Missing;
        outRoot = root;
        outAttribute = attribute;
        return StoreResult::Ok;
    }
    StoreResult ReadMasks(std::vector<std::string>& out) override {
        if (!hasKey || !hasMasks)
            return StoreResult::Missing;
        out = masks;
        return StoreResult::Ok;
    }
    StoreResult ReadItems(std::vector<FileEntry>& out) override {
        for (size_t i = 0; i < items.size(); ++i) {
            if (i == damagedAt)
                return StoreResult::Failed;
            out.push_back(items[i]);
        }
        return StoreResult::Ok;
    }
    StoreResult WriteItems(const std::vector<FileEntry>& in) override {
        if (!hasKey)
            return StoreResult::Missing;
        items.clear();
        for (const auto& item : in) {
            if (items.size() == writableItems)
                return StoreResult::Failed;
            items.push_back(item);
        }
        return StoreResult::Ok;
    }
    StoreResult AddMask(const std::string& mask) override {
        operations.push_back("add " + mask);
        if (std::find(masks.begin(), masks.end(), mask) == masks.end())
            masks.push_back(mask);
        return StoreResult::Ok;
    }
    StoreResult DeleteMask(const std::string& mask) override {
        operations.push_back("delete " + mask);
        auto it = std::find(masks.begin(), masks.end(), mask);
        if (it == masks.end())
            return StoreResult::Missing;
        masks.erase(it);
        return StoreResult::Ok;
    }
};

} // namespace

TEST(SyncStateStore, LoadPutsTheBuiltInMaskFirstAndTheAttributeOnEveryEntry) {
    MemoryStore store;
    store.masks = {"*.txt"};
    store.attribute = 3;
    store.items = {FileEntry{"D\\a", 5, 0, 1}, FileEntry{"D\\b", 6, 0, 2}};
    FileSyncEngine engine;
    EXPECT_EQ(LoadSyncDatabase(store, engine, std::string("*.note")), StoreResult::Ok);
    EXPECT_EQ(engine.Masks(), (std::vector<std::string>{"*.note", "*.txt"}));
    EXPECT_EQ(engine.Root(), "C:\\Sync\\dev");
    ASSERT_EQ(engine.StoredEntries().size(), 2u);
    EXPECT_EQ(engine.StoredEntries()[1].flags, 3u);

    store.damagedAt = 1;
    EXPECT_EQ(LoadSyncDatabase(store, engine, std::nullopt), StoreResult::Failed);
    EXPECT_EQ(engine.StoredEntries().size(), 1u); // entries read before the damage stay
    store.hasMasks = false;
    EXPECT_EQ(LoadSyncDatabase(store, engine, std::nullopt), StoreResult::Missing);
    EXPECT_TRUE(engine.StoredEntries().empty());
}

TEST(SyncStateStore, SaveWritesTheStoredValuesOfEveryResultItem) {
    FileSyncEngine engine;
    engine.SetPcEntries({FileEntry{"D\\copied", 10, 0, 1}, FileEntry{"D\\left", 20, 0, 2}});
    engine.MergeSyncLists();
    // The first item was copied before the session ended early: its new state is kept.
    SyncItem copied = engine.Items()[0];
    copied.storedTime = copied.deviceTime = copied.pcTime = 11;
    copied.flags |= kSynchronized;
    ASSERT_TRUE(engine.UpdateSyncItem(copied));

    MemoryStore store;
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Ok);
    ASSERT_EQ(store.items.size(), 2u);
    EXPECT_EQ(store.items[0].time, 11u);
    EXPECT_EQ(store.items[1].name, "D\\left");

    copied.storedTime = 12;
    ASSERT_TRUE(engine.UpdateSyncItem(copied));
    store.writableItems = 1;
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Failed);
    EXPECT_EQ(store.items.size(), 1u);
    store.hasKey = false;
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Missing);
}

namespace {

// A store that counts its writes.
class CountingStore : public MemoryStore {
public:
    int writes = 0;
    StoreResult WriteItems(const std::vector<FileEntry>& in) override {
        ++writes;
        return MemoryStore::WriteItems(in);
    }
};

} // namespace

TEST(SyncStateStore, ASaveWithNothingNewLeavesTheStoreAlone) {
    CountingStore store;
    store.items = {FileEntry{"D\a", 5, 0, 1}, FileEntry{"D\b", 6, 0, 2}};
    FileSyncEngine engine;
    ASSERT_EQ(LoadSyncDatabase(store, engine, std::nullopt), StoreResult::Ok);
    engine.SetPcEntries({FileEntry{"D\a", 5, 0, 1}, FileEntry{"D\b", 6, 0, 2}});
    engine.SetDeviceFolders({});
    engine.FilterDeviceItems({FileEntry{"D\a", 5, 0, 1}, FileEntry{"D\b", 6, 0, 2}}, {});
    engine.MergeSyncLists();
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Ok);
    EXPECT_EQ(store.writes, 0);

    // A changed item is written, once: the second save finds the store holding it.
    SyncItem changed = engine.Items()[1];
    changed.storedTime = 7;
    ASSERT_TRUE(engine.UpdateSyncItem(changed));
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Ok);
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Ok);
    EXPECT_EQ(store.writes, 1);
    EXPECT_EQ(store.items[1].time, 7u);

    // After a failed write the store's content is unknown, so the next save writes again.
    changed.storedTime = 8;
    ASSERT_TRUE(engine.UpdateSyncItem(changed));
    store.writableItems = 1;
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Failed);
    store.writableItems = SIZE_MAX;
    EXPECT_EQ(SaveSyncDatabase(store, engine), StoreResult::Ok);
    EXPECT_EQ(store.writes, 3);

    // A damaged list read stands for nothing: the save rewrites it.
    store.damagedAt = 1;
    ASSERT_EQ(LoadSyncDatabase(store, engine, std::nullopt), StoreResult::Failed);
    engine.MergeSyncLists();
    store.damagedAt = SIZE_MAX;
    SaveSyncDatabase(store, engine);
    EXPECT_EQ(store.writes, 4);
}

TEST(SyncStateStore, MasksAreWrittenBeforeRemovedOnesAreDeleted) {
    MemoryStore store;
    store.masks = {"*.a", "*.b"};
    EXPECT_EQ(SaveMasks(store, {"*.a", "*.b", "*.gone"}, {"*.b", "*.c"}), StoreResult::Ok);
    EXPECT_EQ(store.operations,
              (std::vector<std::string>{"add *.b", "add *.c", "delete *.a", "delete *.gone"}));
    EXPECT_EQ(store.masks, (std::vector<std::string>{"*.b", "*.c"}));
}

// The PC scan starts beside the reading of the stored items: the load says when the root is known,
// which is before any item is read, and not at all when the state cannot name its root.
TEST(SyncStateStore, LoadNamesTheMomentTheRootIsKnownBeforeTheItemsAreRead) {
    MemoryStore store;
    store.items = {FileEntry{"D\\a", 5, 0, 1}};
    FileSyncEngine engine;
    std::string rootThen;
    size_t calls = 0;
    auto rootKnown = [&] {
        ++calls;
        rootThen = engine.Root();
        EXPECT_TRUE(engine.StoredEntries().empty());
        EXPECT_FALSE(engine.PersistedEntries().has_value());
    };
    EXPECT_EQ(LoadSyncDatabase(store, engine, std::nullopt, rootKnown), StoreResult::Ok);
    EXPECT_EQ(calls, 1u);
    EXPECT_EQ(rootThen, "C:\\Sync\\dev");
    EXPECT_EQ(engine.StoredEntries().size(), 1u);
    store.hasKey = false;
    EXPECT_EQ(LoadSyncDatabase(store, engine, std::nullopt, rootKnown), StoreResult::Missing);
    EXPECT_EQ(calls, 1u);
}
