#include "ByteOrder.h"
#include "TableImage.h"
#include <cstring>
#include <gtest/gtest.h>

using namespace tv::devdb;

namespace {

RecordFormat TextAndWord() {
    RecordFormat format;
    format.AddField("Text", kTypeText, 0);
    format.AddField("Word", kTypeWord, 0);
    return format;
}

// A table with one record whose text "abc" lies at the file end.
std::vector<uint8_t> OneRecordTable(uint64_t& refPos) {
    std::vector<uint8_t> image;
    EXPECT_TRUE(BuildNewTable(7, TextAndWord(), 512, 256, 0, image));
    const uint32_t dataStart = LoadBe32(image.data() + 12);
    StoreBe32(image.data() + dataStart, 1);
    StoreBe16(image.data() + dataStart + 4, kSlotLast);
    refPos = dataStart + 6;
    const uint32_t entry = 512 - 3 - 8;
    StoreBe32(image.data() + refPos, entry);
    StoreBe32(image.data() + refPos + 4, 3);
    StoreBe32(image.data() + entry, static_cast<uint32_t>(refPos));
    std::memcpy(image.data() + entry + 4, "abc", 3);
    StoreBe32(image.data() + 512 - 4, 3);
    return image;
}

} // namespace

TEST(TableImage, NewTableHasItsHeaderFormatAndPlaceholderSlot) {
    std::vector<uint8_t> image;
    ASSERT_TRUE(BuildNewTable(0x12345678, TextAndWord(), 4096, 1024, 0, image));
    ASSERT_EQ(image.size(), 4096u);
    EXPECT_EQ(std::memcmp(image.data(), "ZvDT\0\0\0\1\x12\x34\x56\x78", 12), 0);
    const uint32_t dataStart = LoadBe32(image.data() + 12);
    EXPECT_EQ(dataStart, 48u + 4 + (1 + 4 + 6) + (1 + 4 + 6));
    EXPECT_EQ(LoadBe16(image.data() + dataStart + 4), 0xC000);
    TableLayout layout;
    ASSERT_TRUE(ParseTable(image.data(), image.size(), 0x12345678, layout));
    EXPECT_TRUE(layout.slots.empty());
    EXPECT_EQ(layout.freeSpace, static_cast<int64_t>(4096 - dataStart));
    EXPECT_FALSE(ParseTable(image.data(), image.size(), 0x12345679, layout));
    // Too small for the placeholder slot, or beyond 32-bit offsets.
    EXPECT_FALSE(BuildNewTable(1, TextAndWord(), dataStart + 10, 0, 0, image));
    EXPECT_FALSE(BuildNewTable(1, TextAndWord(), 1ull << 32, 0, 0, image));
}

TEST(TableImage, ValuesThatLeaveTheFileOrTheirAreaMakeTheTableInvalid) {
    uint64_t refPos = 0;
    const std::vector<uint8_t> good = OneRecordTable(refPos);
    TableLayout layout;
    ASSERT_TRUE(ParseTable(good.data(), good.size(), 7, layout));
    EXPECT_EQ(layout.slots.size(), 1u);
    EXPECT_EQ(layout.bottom, 512u - 11);

    auto refused = [&](auto damage) {
        std::vector<uint8_t> image = good;
        damage(image);
        return !ParseTable(image.data(), image.size(), 7, layout);
    };
    EXPECT_TRUE(refused([](auto& im) { StoreBe32(im.data() + 12, 600); })); // data start past the end
    EXPECT_TRUE(refused([](auto& im) { StoreBe32(im.data() + 12, 50); }));  // format cut short
    EXPECT_TRUE(
        refused([&](auto& im) { StoreBe16(im.data() + refPos - 2, 0); })); // no last slot: walk runs off
    EXPECT_TRUE(
        refused([&](auto& im) { StoreBe32(im.data() + refPos + 4, 0x7FFFFFF0); })); // length past the end
    EXPECT_TRUE(refused([&](auto& im) { StoreBe32(im.data() + refPos + 4, 0x80000003); })); // bit 31 set
    EXPECT_TRUE(refused([&](auto& im) { StoreBe32(im.data() + refPos, 70); })); // entry inside the slots
    EXPECT_TRUE(refused([&](auto& im) { StoreBe32(im.data() + refPos, 0xFFFFFFF0); })); // offset past the end
    EXPECT_TRUE(refused([](auto& im) { im[4] = 2; }));                                  // version
    EXPECT_TRUE(refused([](auto& im) { im.resize(40); }));
}

// Compaction finds the live entries through the references of the live slots and writes only
// through those positions: an entry's owner field, which a hostile or half-written file may set to
// anything, is repaired rather than followed. A reference whose entry is not in the area is damage.
TEST(TableImage, CompactionFollowsTheReferencesNotTheOwnerFields) {
    uint64_t refPos = 0;
    std::vector<uint8_t> image = OneRecordTable(refPos);
    TableLayout layout;
    ASSERT_TRUE(ParseTable(image.data(), image.size(), 7, layout));
    std::vector<uint8_t> packed = image;
    EXPECT_TRUE(CompactTable(packed, layout));
    EXPECT_EQ(packed, image); // already packed

    std::vector<uint8_t> damaged = image;
    StoreBe32(damaged.data() + 512 - 11, 4000); // the owner points outside the slots
    ASSERT_TRUE(ParseTable(damaged.data(), damaged.size(), 7, layout));
    EXPECT_TRUE(CompactTable(damaged, layout));
    EXPECT_EQ(damaged, image);

    // An entry that no reference names is dropped, even with an owner field naming a live
    // reference: the live entry "abc" lies below a stale one that claims the same reference.
    std::vector<uint8_t> stale = image;
    StoreBe32(stale.data() + refPos, 485);
    StoreBe32(stale.data() + 485, static_cast<uint32_t>(refPos));
    std::memcpy(stale.data() + 489, "abc", 3);
    StoreBe32(stale.data() + 492, 3);
    StoreBe32(stale.data() + 496, static_cast<uint32_t>(refPos));
    std::memcpy(stale.data() + 500, "oldentry", 8);
    StoreBe32(stale.data() + 508, 8);
    ASSERT_TRUE(ParseTable(stale.data(), stale.size(), 7, layout));
    ASSERT_TRUE(CompactTable(stale, layout));
    EXPECT_EQ(std::vector<uint8_t>(stale.begin() + 501, stale.end()),
              std::vector<uint8_t>(image.begin() + 501, image.end()));
    EXPECT_EQ(LoadBe32(stale.data() + refPos), 501u);
    EXPECT_EQ(layout.bottom, 501u);
}
