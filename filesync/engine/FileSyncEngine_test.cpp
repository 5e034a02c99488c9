#include "FileSyncEngine.h"

#include <gtest/gtest.h>

using namespace filesync;

namespace {

FileEntry Entry(const std::string& name, uint64_t time, uint32_t size = 1) {
    return FileEntry{name, time, 0, size};
}

const SyncItem* Find(const FileSyncEngine& engine, const std::string& storedName) {
    for (const auto& item : engine.Items()) {
        if (item.storedName == storedName)
            return &item;
    }
    return nullptr;
}

uint32_t Decision(const SyncItem* item) {
    return item->flags & (kConflict | kSynchronized);
}

} // namespace

TEST(FileSyncEngine, MergeDecidesUnchangedChangedAndConflicts) {
    FileSyncEngine engine;
    engine.SetStoredEntries({Entry("D\\same", 10), Entry("D\\pc", 10), Entry("D\\dev", 10), Entry("D\\both", 10),
                             Entry("D\\pcback", 10), Entry("D\\devback", 10), Entry("D\\gone", 10)});
    engine.SetPcEntries({Entry("D\\same", 10), Entry("D\\pc", 20), Entry("D\\dev", 10), Entry("D\\both", 20),
                         Entry("D\\pcback", 5), Entry("D\\devback", 10)});
    engine.FilterDeviceItems({Entry("D\\same", 10), Entry("D\\pc", 10), Entry("D\\dev", 20), Entry("D\\both", 30),
                              Entry("D\\pcback", 10), Entry("D\\devback", 5)},
                             {});
    engine.MergeSyncLists();
    ASSERT_EQ(engine.Items().size(), 6u); // stored on neither side: dropped
    EXPECT_EQ(Decision(Find(engine, "D\\same")), kSynchronized);
    EXPECT_EQ(Decision(Find(engine, "D\\pc")), 0u);
    EXPECT_EQ(Decision(Find(engine, "D\\dev")), 0u);
    EXPECT_EQ(Decision(Find(engine, "D\\both")), kConflict);
    EXPECT_EQ(Decision(Find(engine, "D\\pcback")), kConflict);
    EXPECT_EQ(Decision(Find(engine, "D\\devback")), kConflict);
    EXPECT_EQ(Find(engine, "D\\same")->flags & (kOnPc | kOnDevice), kOnPc | kOnDevice);
    EXPECT_EQ(engine.CountItemsByFlag(kConflict), 3u);
    EXPECT_EQ(engine.CountItemsByFlag(kConflict | kSynchronized), 4u);
    for (size_t i = 0; i < engine.Items().size(); ++i)
        EXPECT_EQ(engine.Items()[i].index, i);
}

TEST(FileSyncEngine, OneSidedFilesAndFirstSessionTakeTheDeviceValues) {
    FileSyncEngine engine;
    engine.SetMasks({"D\\new-*"});
    engine.SetStoredEntries({Entry("D\\deleted-on-device", 10)});
    engine.SetPcEntries({Entry("D\\deleted-on-device", 10), Entry("D\\new-pc", 7), Entry("D\\newer", 50, 9),
                         Entry("D\\older", 5), Entry("D\\equal", 30)});
    engine.FilterDeviceItems({Entry("D\\new-dev", 8), Entry("D\\newer", 40, 4), Entry("D\\older", 40),
                              Entry("D\\equal", 30)},
                             {});
    engine.MergeSyncLists();
    const SyncItem* onlyPc = Find(engine, "D\\deleted-on-device");
    EXPECT_EQ(onlyPc->flags, kOnPc);
    EXPECT_TRUE(onlyPc->deviceName.empty());
    const SyncItem* onlyDevice = Find(engine, "D\\new-dev");
    EXPECT_EQ(onlyDevice->flags, kOnDevice);
    EXPECT_TRUE(onlyDevice->pcName.empty());
    EXPECT_EQ(onlyDevice->storedTime, 8u);
    const SyncItem* newer = Find(engine, "D\\newer");
    EXPECT_EQ(newer->storedTime, 40u);
    EXPECT_EQ(newer->storedSize, 4u);
    EXPECT_EQ(Decision(newer), 0u);
    EXPECT_EQ(Decision(Find(engine, "D\\older")), kConflict);
    EXPECT_EQ(Decision(Find(engine, "D\\equal")), kSynchronized);
}

TEST(FileSyncEngine, DeviceFilesNeedAPcTwinOrAMaskAndUnsafeNamesAreRefused) {
    FileSyncEngine engine;
    engine.SetMasks({"*.txt"});
    engine.SetPcEntries({Entry("D\\pc.bin", 1)});
    const size_t refused = engine.FilterDeviceItems(
        {Entry("D\\pc.bin", 1), Entry("D\\a.txt", 1), Entry("D\\A.TXT", 1), Entry("D\\other.bin", 1),
         Entry("..\\evil.txt", 1), Entry("\\abs.txt", 1), Entry("D\\\\e.txt", 1), Entry("C:\\x.txt", 1)},
        {Entry("D\\..\\bad", 1)});
    // The excluded entry is dropped too, but not counted: it would not have been synchronized.
    EXPECT_EQ(refused, 4u);
    ASSERT_EQ(engine.DeviceEntries().size(), 2u);
    EXPECT_EQ(engine.DeviceEntries()[0].name, "D\\pc.bin");
    EXPECT_EQ(engine.DeviceEntries()[1].name, "D\\a.txt");
}

TEST(FileSyncEngine, ExcludedDeviceFileLeavesThePcItemOutWithANotice) {
    FileSyncEngine engine;
    std::vector<std::string> notices;
    engine.SetExcludedNotice([&](const std::string& name) { notices.push_back(name); });
    engine.SetPcEntries({Entry("D\\locked", 1), Entry("D\\free", 1)});
    engine.FilterDeviceItems({}, {Entry("D\\locked", 1)});
    engine.MergeSyncLists();
    ASSERT_EQ(engine.Items().size(), 1u);
    EXPECT_EQ(engine.Items()[0].pcName, "D\\free");
    EXPECT_EQ(notices, (std::vector<std::string>{"D\\locked"}));
}

TEST(FileSyncEngine, ResultListEditsAndUpdatesByIndex) {
    FileSyncEngine engine;
    SyncItem item;
    item.pcName = "D\\a";
    engine.AddSyncItem(item);
    item.pcName = "D\\b";
    engine.AddSyncItem(item);
    item.pcName = "D\\c";
    engine.AddSyncItem(item);
    EXPECT_EQ(engine.Items()[2].index, 2u);
    EXPECT_TRUE(engine.RemoveSyncItem(0));
    EXPECT_FALSE(engine.RemoveSyncItem(5));
    ASSERT_EQ(engine.Items().size(), 2u);
    EXPECT_EQ(engine.Items()[1].index, 1u);

    SyncItem copied = engine.Items()[1];
    copied.storedTime = 99;
    copied.flags |= kSynchronized;
    EXPECT_TRUE(engine.UpdateSyncItem(copied));
    EXPECT_EQ(engine.Items()[1].storedTime, 99u);
    copied.index = 7;
    EXPECT_FALSE(engine.UpdateSyncItem(copied));
    std::vector<SyncItem> out(1);
    engine.GetSyncItems(out);
    EXPECT_EQ(out.size(), 3u);
}

TEST(FileSyncEngine, MergeOfManyFilesIsNotQuadratic) {
    FileSyncEngine engine;
    std::vector<FileEntry> pc, device, stored;
    for (int i = 0; i < 20000; ++i) {
        const std::string name = "D\\f" + std::to_string(i);
        pc.push_back(Entry(name, 10));
        device.push_back(Entry(name, 10));
        stored.push_back(Entry(name, 10));
    }
    engine.SetStoredEntries(stored);
    engine.SetPcEntries(pc);
    engine.FilterDeviceItems(device, {});
    engine.MergeSyncLists();
    EXPECT_EQ(engine.CountItemsByFlag(kSynchronized), 20000u);
}

// A device file becomes a PC file of the same name. Names that Windows takes for devices (CON,
// NUL, COM1, LPT1 ..., in any case and with any extension) or stores under another name (a
// trailing dot or space) never get that far: such a file is left out and counted, whichever side
// would have taken it in.
TEST(FileSyncEngine, DeviceFilesWhoseNamesCannotBePcNamesAreLeftOutAndCounted) {
    FileSyncEngine engine;
    engine.SetMasks({"Main\\*"});
    engine.SetPcEntries({Entry("Main\\kept.txt", 5)});
    const size_t refused = engine.FilterDeviceItems(
        {Entry("Main\\kept.txt", 5), Entry("Main\\CON", 1), Entry("Main\\nul.txt", 1),
         Entry("Main\\Com1.log", 1), Entry("Main\\lpt9", 1), Entry("Main\\aux .txt", 1),
         Entry("Main\\note.", 1), Entry("Main\\note ", 1), Entry("Main\\prn\\inside.txt", 1),
         Entry("Main\\a:b", 1), Entry("Other\\nul", 1)},
        {Entry("Main\\kept.txt", 9), Entry("Main\\con", 9)});
    // "Other\nul" matches no mask: it would not have been taken in, so it is not counted.
    EXPECT_EQ(refused, 9u);
    ASSERT_EQ(engine.DeviceEntries().size(), 1u);
    EXPECT_EQ(engine.DeviceEntries()[0].name, "Main\\kept.txt");
    // Names that only look alike stay: COM0, COM10, CONSOLE, a dot inside.
    EXPECT_EQ(
        engine.FilterDeviceItems({Entry("Main\\COM0", 1), Entry("Main\\COM10", 1), Entry("Main\\CONSOLE", 1),
                                  Entry("Main\\nul.txt.bak", 1), Entry("Main\\x.nul", 1)},
                                 {}),
        1u); // only nul.txt.bak: the device is named by the part before the first dot
    EXPECT_EQ(engine.DeviceEntries().size(), 4u);
    engine.SetDeviceFolders({"Main", "Main\\AUX", "Main\\end."});
    EXPECT_TRUE(engine.HasDeviceFolder("Main"));
    EXPECT_FALSE(engine.HasDeviceFolder("Main\\AUX"));
    EXPECT_FALSE(engine.HasDeviceFolder("Main\\end."));
}
