#include "ItemId.h"
#include <gtest/gtest.h>

using namespace tv::shellns;

namespace {

ItemRecord Sample(const std::string& name, const std::string& description) {
    ItemRecord record;
    record.flags = ItemFlags(7, kTypeFolder);
    record.type = kTypeFolder;
    record.attr = 1;
    record.size = 0x12345678;
    record.timeLow = 0xDEADBEEF;
    record.timeHigh = 0x01D00000;
    record.iconIndex = record.iconIndex2 = 3;
    record.name = name;
    record.description = description;
    return record;
}

std::vector<uint8_t> ListOf(std::initializer_list<std::vector<uint8_t>> levels) {
    std::vector<uint8_t> list;
    for (const auto& level : levels)
        list.insert(list.end(), level.begin(), level.end());
    list.push_back(0);
    list.push_back(0);
    return list;
}

} // namespace

TEST(ItemIdTest, LayoutHasTheSizeSignatureNumbersAndTexts) {
    std::vector<uint8_t> level = EncodeItem(Sample("a", ""));
    ASSERT_EQ(41u, level.size());
    EXPECT_EQ(41u, LevelSize(level.data()));
    EXPECT_EQ(0, memcmp(&level[2], "ZVL", 4));
    EXPECT_EQ(0x78, level[18]);  // size, little-endian
    EXPECT_EQ(0x12, level[21]);
    EXPECT_EQ('a', level[38]);
    EXPECT_EQ(0, level[39]);
    EXPECT_EQ(0, level[40]);
}

TEST(ItemIdTest, FlagsFollowTheHintAndTheType) {
    EXPECT_EQ(kAttrCanDelete | kAttrCanRename, ItemFlags(6, kTypeFile));
    EXPECT_EQ(kAttrFolder, ItemFlags(0, kTypeVolume));
    EXPECT_EQ(kAttrFolder | kAttrHasSubfolder | kAttrCanDelete, ItemFlags(3, kTypeFolder));
    EXPECT_EQ(0u, ItemFlags(1, kTypeFile));
}

TEST(ItemIdTest, DecodeGivesBackWhatWasEncoded) {
    ItemRecord in = Sample("Notes.txt", "Text document");
    std::vector<uint8_t> level = EncodeItem(in);
    ItemRecord out;
    ASSERT_TRUE(DecodeItem(level.data(), level.size(), &out));
    EXPECT_EQ(in.flags, out.flags);
    EXPECT_EQ(in.size, out.size);
    EXPECT_EQ(in.timeLow, out.timeLow);
    EXPECT_EQ(in.timeHigh, out.timeHigh);
    EXPECT_EQ(in.iconIndex2, out.iconIndex2);
    EXPECT_EQ("Notes.txt", out.name);
    EXPECT_EQ("Text document", out.description);
}

TEST(ItemIdTest, TruncatedStaleAndForeignLevelsAreRefused) {
    std::vector<uint8_t> level = EncodeItem(Sample("Notes.txt", "Text"));
    // Truncated: the size no longer holds the description's terminator.
    std::vector<uint8_t> shorter(level.begin(), level.end() - 1);
    shorter[0] = static_cast<uint8_t>(shorter.size());
    EXPECT_FALSE(DecodeItem(shorter.data(), shorter.size(), nullptr));
    // Stale: a size larger than the two texts need.
    std::vector<uint8_t> longer = level;
    longer.push_back(0);
    longer[0] = static_cast<uint8_t>(longer.size());
    EXPECT_FALSE(DecodeItem(longer.data(), longer.size(), nullptr));
    // Unterminated name filling the whole level.
    std::vector<uint8_t> unterminated = level;
    for (size_t i = kItemNameOffset; i < unterminated.size(); ++i)
        unterminated[i] = 'x';
    EXPECT_FALSE(DecodeItem(unterminated.data(), unterminated.size(), nullptr));
    // Below the fixed size, and a foreign signature.
    std::vector<uint8_t> tiny = {6, 0, 'Z', 'V', 'L', 0};
    EXPECT_FALSE(DecodeItem(tiny.data(), tiny.size(), nullptr));
    std::vector<uint8_t> foreign = level;
    foreign[2] = 'Q';
    EXPECT_FALSE(DecodeItem(foreign.data(), foreign.size(), nullptr));
}

TEST(ItemIdTest, PathJoinsOurLevelsAndStopsAtAForeignOne) {
    std::vector<uint8_t> foreign = {8, 0, 'A', 'B', 'C', 'D', 'E', 'F'};
    std::vector<uint8_t> list =
        ListOf({EncodeItem(Sample("Dev", "")), EncodeItem(Sample("Main", "")), foreign, EncodeItem(Sample("x", ""))});
    std::string path;
    ASSERT_TRUE(ListToPath(list.data(), list.size(), &path));
    EXPECT_EQ("Dev\\Main", path);
    std::vector<uint8_t> empty = {0, 0};
    ASSERT_TRUE(ListToPath(empty.data(), empty.size(), &path));
    EXPECT_EQ("", path);
}

TEST(ItemIdTest, ListsWithABrokenLevelOrOverrunningSizeAreRefused) {
    std::vector<uint8_t> good = EncodeItem(Sample("Dev", ""));
    std::vector<uint8_t> broken = EncodeItem(Sample("Main", "x"));
    broken.back() = 'y';  // description no longer terminated
    std::vector<uint8_t> list = ListOf({good, broken});
    EXPECT_FALSE(ListToPath(list.data(), list.size(), nullptr));
    std::vector<uint8_t> cut = ListOf({good});
    cut.resize(good.size() - 3);
    EXPECT_FALSE(ListToPath(cut.data(), cut.size(), nullptr));
    std::vector<ItemRecord> records;
    std::vector<uint8_t> two = ListOf({good, EncodeItem(Sample("Main", "Volume"))});
    ASSERT_TRUE(DecodeList(two.data(), two.size(), &records));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("Volume", records[1].description);
}

TEST(ItemIdTest, TextsThatCannotFitALevelGiveNoLevel) {
    EXPECT_TRUE(EncodeItem(Sample(std::string(70000, 'n'), "")).empty());
    EXPECT_TRUE(EncodeItem(Sample(std::string("a\0b", 3), "")).empty());
}
