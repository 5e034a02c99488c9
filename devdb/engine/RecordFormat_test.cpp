#include "ByteOrder.h"
#include "RecordFormat.h"
#include "TableImage.h"
#include <cstring>
#include <gtest/gtest.h>

using namespace tv::devdb;

TEST(RecordFormat, LayoutFollowsTheFieldsAndTheStringList) {
    RecordFormat format;
    ASSERT_TRUE(format.AddField("Word", kTypeWord, 0));
    EXPECT_EQ(format.RecordSize(), 2u);
    EXPECT_FALSE(format.HasStringList());
    ASSERT_TRUE(format.AddField("List", kTypeListText, 0));
    EXPECT_EQ(format.RecordSize(), 2u + 8u);
    EXPECT_EQ(format.ListReferenceOffset(), 2u);
    ASSERT_TRUE(format.AddField("Text", kTypeText, 0));
    ASSERT_TRUE(format.AddField("Fixed", kTypeFixedText, 12));
    ASSERT_TRUE(format.AddField("List2", kTypeListText, 0));
    EXPECT_EQ(format.FieldAt(2)->offset, 2u);
    EXPECT_EQ(format.FieldAt(3)->offset, 10u);
    EXPECT_EQ(format.FieldAt(4)->listSlot, 1);
    EXPECT_EQ(format.RecordSize(), 22u + 8u);
    ASSERT_TRUE(format.RemoveField(1));
    EXPECT_EQ(format.FieldAt(3)->listSlot, 0);
    EXPECT_EQ(format.FieldAt(2)->offset, 10u);
}

TEST(RecordFormat, TypesOutsideTheTableAndBadSizesAreRefused) {
    RecordFormat format;
    EXPECT_FALSE(format.AddField("x", 0, 0));
    EXPECT_FALSE(format.AddField("x", 11, 0));
    EXPECT_FALSE(format.AddField("x", kTypeFixedText, 0));
    EXPECT_FALSE(format.AddField("x", kTypeFixedBinary, 256));
    EXPECT_TRUE(format.AddField(std::string(40, 'n'), kTypeFixedBinary, 255));
    EXPECT_EQ(format.FieldAt(0)->name, std::string(31, 'n'));
    EXPECT_EQ(format.FieldAt(0)->code, 0x0CFF);
    for (int type = 1; type <= 10; ++type)
        EXPECT_EQ(RecordFormat::TypeOfCode(RecordFormat::CodeOfType(type, 5)), type);
}

TEST(RecordFormat, BlockRoundTripsAndDamagedBlocksAreRefused) {
    RecordFormat format;
    format.AddField("Subject", kTypeText, 0);
    format.AddReferenceField("Folder", 0x11002211);
    format.AddField("To", kTypeListText, 0);
    const std::vector<uint8_t> block = format.Serialize();
    RecordFormat read;
    uint64_t used = 0;
    ASSERT_TRUE(read.Parse(block.data(), block.size(), used));
    EXPECT_EQ(used, block.size());
    EXPECT_EQ(read.FieldAt(1)->parameter, 0x11002211u);
    EXPECT_EQ(read.RecordSize(), format.RecordSize());
    for (size_t cut = 0; cut < block.size(); ++cut)
        EXPECT_FALSE(read.Parse(block.data(), cut, used)) << cut;
    std::vector<uint8_t> badType = block;
    badType[block.size() - 1] = 0x07; // list text with a size
    EXPECT_FALSE(read.Parse(badType.data(), badType.size(), used));
    std::vector<uint8_t> hugeCount = block;
    hugeCount[0] = 0xFF;
    EXPECT_FALSE(read.Parse(hugeCount.data(), hugeCount.size(), used));
}

// The fixed sizes of a format's fields add up to the record size. 16843010 fields of 255 bytes make
// 2^32 + 254 bytes, which a 32-bit sum takes for 254: the record and its fields' offsets would then
// disagree with the bytes a slot holds. Such a format, and a table file holding it, is refused.
TEST(RecordFormat, AFormatWhoseRecordPassesFourGibibytesIsRefused) {
    constexpr uint32_t kFields = 16843010;
    constexpr size_t kBlock = 4 + size_t{kFields} * 7;
    // A table file: header, the format block, and a placeholder slot flagged deleted and last.
    std::vector<uint8_t> image(48 + kBlock + 4096, 0);
    std::memcpy(image.data(), "ZvDT\0\0\0\1\0\0\0\7", 12);
    StoreBe32(image.data() + 12, static_cast<uint32_t>(48 + kBlock));
    StoreBe32(image.data() + 48, kFields);
    for (size_t i = 0; i < kFields; ++i)
        StoreBe16(image.data() + 48 + 4 + i * 7 + 5, 0x0CFF); // no name, no parameter, 255 bytes
    StoreBe16(image.data() + 48 + kBlock + 4, kSlotDeleted | kSlotLast);

    RecordFormat format;
    uint64_t used = 0;
    EXPECT_FALSE(format.Parse(image.data() + 48, kBlock, used));
    TableLayout layout;
    EXPECT_FALSE(ParseTable(image.data(), image.size(), 7, layout));
}
