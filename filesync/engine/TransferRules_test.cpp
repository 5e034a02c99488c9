#include "TransferRules.h"

#include <gtest/gtest.h>

using namespace filesync;

TEST(TransferRules, LaterTimeWinsAndTiesGoToTheDevice) {
    SyncItem item;
    item.deviceTime = 20;
    item.pcTime = 10;
    EXPECT_EQ(ChooseDirection(item), Direction::DeviceToPc);
    item.pcTime = 20;
    EXPECT_EQ(ChooseDirection(item), Direction::PcToDevice);
    item.deviceTime = 0;
    EXPECT_EQ(ChooseDirection(item), Direction::PcToDevice);
}

TEST(TransferRules, FreeSpaceIsSixtyFourBitAndCountsTheReplacedCopy) {
    EXPECT_EQ(DecideSpace(512, 2, 1024), SpaceDecision::Copy); // exactly the free space
    EXPECT_EQ(DecideSpace(512, 2, 1025), SpaceDecision::NoRoom);
    EXPECT_EQ(DecideSpace(0, 100, 1), SpaceDecision::Unknown);
    // 4 KiB blocks × 2^21 free blocks is 8 GiB: a 32-bit product would wrap to 0.
    EXPECT_EQ(FreeBytes(4096, 1ull << 21), 1ull << 33);
    EXPECT_EQ(DecideSpace(4096, 1ull << 21, 0x7FFFFFFF), SpaceDecision::Copy);
    EXPECT_EQ(FreeBytes(~0ull, 2), ~0ull);
    EXPECT_EQ(DecideSpaceWithReplaced(512, 2, 1500, 477), SpaceDecision::Copy);
    EXPECT_EQ(DecideSpaceWithReplaced(512, 2, 1500, 476), SpaceDecision::NoRoom);
    EXPECT_EQ(DecideSpaceWithReplaced(512, 2, 1500, 0), SpaceDecision::NoRoom);
    EXPECT_EQ(DecideSpaceWithReplaced(0, 2, 1, 0), SpaceDecision::Unknown);
    EXPECT_TRUE(IsPcFileTooLarge(1ull << 31));
    EXPECT_FALSE(IsPcFileTooLarge((1ull << 31) - 1));
}

TEST(TransferRules, CopiedEntryPrefersTheDeviceNameAndSkipsExcludedOnes) {
    SyncItem item;
    item.deviceName = "D\\f";
    item.pcName = "D\\g";
    std::vector<DeviceListingEntry> listing = {
        {"D\\f", 8, 0x08, 1, 1}, // excluded: never the match
        {"D\\g", 8, 0, 2, 2},
        {"D\\f", 1, 0, 3, 3}, // not a file or folder type
        {"D\\f", 8, 0, 4, 4},
    };
    auto match = FindCopiedEntry(listing, item);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->time, 4u);
    listing.pop_back();
    match = FindCopiedEntry(listing, item);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->name, "D\\g");
    listing.erase(listing.begin() + 1);
    EXPECT_FALSE(FindCopiedEntry(listing, item)); // the copy did not land

    const SyncItem copied = RecordCopied(item, {"D\\f", 8, 0, 77, 5});
    EXPECT_EQ(copied.storedName, "D\\f");
    EXPECT_EQ(copied.pcTime, 77u);
    EXPECT_EQ(copied.storedTime, 77u);
    EXPECT_EQ(copied.deviceSize, 5u);
}

TEST(TransferRules, TheCopiedEntryIsSoughtInTheFoldersOfTheItemsNames) {
    SyncItem item;
    item.pcName = "D\\sub\\f";
    EXPECT_EQ(CopiedEntryFolders(item), (std::vector<std::string>{"D\\sub"}));
    item.deviceName = "D\\sub\\f";
    EXPECT_EQ(CopiedEntryFolders(item), (std::vector<std::string>{"D\\sub"}));
    item.deviceName = "top";
    EXPECT_EQ(CopiedEntryFolders(item), (std::vector<std::string>{"", "D\\sub"}));

    // The folder's listing, named below the device root, finds the entry as the full one would.
    std::vector<DeviceListingEntry> listing = {{"e", 8, 0, 1, 1}, {"f", 8, 0, 2, 2}};
    PrefixFolder("D\\sub", listing);
    item.deviceName.clear();
    const auto match = FindCopiedEntry(listing, item);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->name, "D\\sub\\f");
    EXPECT_EQ(match->time, 2u);
}

TEST(TransferRules, ListingSortsFoldersFilesAndExcluded) {
    std::vector<std::string> folders;
    std::vector<FileEntry> files, excluded;
    SortDeviceListing({{"D", 2, 0, 0, 0}, {"E", 4, 0, 0, 0}, {"D\\a", 8, 0, 5, 6}, {"D\\b", 8, 0x08, 0, 0}, {"x", 1, 0, 0, 0}},
                      folders, files, excluded);
    EXPECT_EQ(folders, (std::vector<std::string>{"D", "E"}));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].time, 5u);
    EXPECT_EQ(files[0].size, 6u);
    ASSERT_EQ(excluded.size(), 1u);
    EXPECT_EQ(excluded[0].name, "D\\b");
}

TEST(TransferRules, AfterACopyTheItemIsRecordedOnlyWhenTheCopyLanded) {
    FileSyncEngine engine;
    engine.SetPcEntries({FileEntry{"D\\f", 30, 0, 3}});
    engine.MergeSyncLists();
    SyncItem item = engine.Items()[0];
    SyncItem recorded;
    EXPECT_FALSE(UpdateAfterCopy(engine, item, {{"D\\other", 8, 0, 31, 3}}, recorded));
    EXPECT_EQ(engine.Items()[0].storedTime, 30u); // untouched
    ASSERT_TRUE(UpdateAfterCopy(engine, item, {{"D\\f", 8, 0, 31, 3}}, recorded));
    EXPECT_EQ(engine.Items()[0].storedTime, 31u);
    EXPECT_EQ(engine.Items()[0].deviceName, "D\\f");
    EXPECT_EQ(engine.CountItemsByFlag(kSynchronized), 1u);
    EXPECT_EQ(recorded.pcTime, 31u);
    item.index = 9; // no longer in the result list
    EXPECT_FALSE(UpdateAfterCopy(engine, item, {{"D\\f", 8, 0, 32, 3}}, recorded));
}

TEST(TransferRules, DeviceFoldersForACopyDependOnTheGeneration) {
    FileSyncEngine engine;
    engine.SetDeviceFolders({"D", "D\\x", "..", "\\E"});
    std::vector<std::string> create;
    EXPECT_EQ(PlanDeviceFolders(Generation::V10, engine, "D\\f", create), FolderPlan::Ready);
    EXPECT_EQ(PlanDeviceFolders(Generation::V10, engine, "E\\f", create), FolderPlan::Missing);
    EXPECT_EQ(PlanDeviceFolders(Generation::V10, engine, "f", create), FolderPlan::Invalid);
    EXPECT_EQ(PlanDeviceFolders(Generation::V15, engine, "..\\f", create), FolderPlan::Invalid);
    EXPECT_EQ(PlanDeviceFolders(Generation::V15, engine, "D\\x\\f", create), FolderPlan::Ready);
    EXPECT_EQ(PlanDeviceFolders(Generation::V15, engine, "D\\y\\z\\f", create), FolderPlan::CreateFolders);
    EXPECT_EQ(create, (std::vector<std::string>{"D\\y", "D\\y\\z"}));
    EXPECT_FALSE(engine.HasDeviceFolder(".."));
}

TEST(TransferRules, SessionBytesAreCountedInSixtyFourBitsFromTheSendingSide) {
    std::vector<SyncItem> items(5);
    for (auto& item : items) {
        item.pcTime = 2;
        item.pcSize = 0xF0000000u; // two of these already exceed 32 bits
        item.deviceSize = 1;
    }
    items[3].flags = kConflict;
    items[4].flags = kSynchronized;
    items[2].deviceTime = 3; // goes to the PC: its device size counts
    const TransferPlan plan = PlanTransfers(items);
    EXPECT_EQ(plan.items.size(), 3u);
    EXPECT_EQ(plan.totalBytes, 2ull * 0xF0000000u + 1);
    EXPECT_TRUE(IsDeviceReadyReply("ok\n@12345\n"));
    EXPECT_FALSE(IsDeviceReadyReply("busy"));
}
