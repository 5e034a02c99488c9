#include "ByteOrder.h"
#include "MemoryPlatform.h"
#include "TableImage.h"
#include <algorithm>
#include <cstring>
#include <random>
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

namespace {

// A table grown as a commit grows it: `bytes` more at the end, one free entry.
std::vector<uint8_t> Grown(const std::vector<uint8_t>& image, uint64_t bytes) {
    std::vector<uint8_t> grown = image;
    grown.resize(image.size() + bytes);
    StoreBe32(grown.data() + grown.size() - 4, static_cast<uint32_t>(bytes - 8));
    StoreBe32(grown.data() + image.size(), 0);
    return grown;
}

struct PlacedEntry {
    uint64_t refPos;
    uint32_t length;
};

// Writes the entries against `top` downwards in the order given, each with its owner, random
// bytes and its closing length; the references name them. Returns the lowest entry's offset.
uint64_t PlaceEntries(std::vector<uint8_t>& image, const std::vector<PlacedEntry>& entries, uint64_t top,
                      std::mt19937& random) {
    for (const PlacedEntry& entry : entries) {
        const uint64_t start = top - entry.length - 8;
        StoreBe32(image.data() + start, static_cast<uint32_t>(entry.refPos));
        for (uint32_t i = 0; i < entry.length; ++i)
            image[start + 4 + i] = static_cast<uint8_t>(random());
        StoreBe32(image.data() + top - 4, entry.length);
        if (entry.refPos != 0) {
            StoreBe32(image.data() + entry.refPos, static_cast<uint32_t>(start));
            StoreBe32(image.data() + entry.refPos + 4, entry.length);
        }
        top = start;
    }
    return top;
}

// A randomised table: records whose texts, binaries and string lists have random lengths (some
// none), their entries in random order packed against the file end as commits and compactions
// leave them; and, by chance, the marks other histories leave: a deleted slot, a freed entry
// within the area or below it, a stale owner field, a slot with other flags, a deleted last slot.
std::vector<uint8_t> RandomTable(std::mt19937& random, uint32_t id, uint64_t& bottom) {
    const auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    RecordFormat format;
    const int texts = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < texts; ++i) {
        format.AddField("T" + std::to_string(i), i == 1 ? kTypeBinary : kTypeText, 0);
        if (chance(50))
            format.AddField("N" + std::to_string(i), kTypeDword, 0);
    }
    if (chance(50))
        format.AddField("L", kTypeListText, 0);
    const std::vector<uint32_t> refs = OutOfLineRefOffsets(format);
    const uint64_t slotSize = format.RecordSize() + kSlotHeaderSize;
    const size_t records = random() % 10;

    std::vector<uint8_t> empty;
    EXPECT_TRUE(BuildNewTable(id, format, 4096, 1 + static_cast<int32_t>(random() % 2048), 0, empty));
    const uint64_t dataStart = LoadBe32(empty.data() + 12);
    std::vector<PlacedEntry> entries;
    for (size_t i = 0; i < records; ++i)
        for (uint32_t ref : refs)
            if (!chance(25))
                entries.push_back({dataStart + i * slotSize + kSlotHeaderSize + ref,
                                   static_cast<uint32_t>(chance(10) ? 0 : random() % 300)});
    std::shuffle(entries.begin(), entries.end(), random);
    if (chance(15) && !entries.empty()) // a freed entry within the area
        entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(random() % entries.size()),
                       {0, static_cast<uint32_t>(random() % 50)});
    uint64_t areaBytes = 0;
    for (const PlacedEntry& entry : entries)
        areaBytes += entry.length + 8;
    const uint64_t size =
        dataStart + std::max<size_t>(records, 1) * slotSize + random() % 200 + 64 + areaBytes;
    std::vector<uint8_t> image;
    EXPECT_TRUE(BuildNewTable(id, format, size, LoadBe32(empty.data() + 16), 0, image));
    for (size_t i = 0; i < records; ++i) {
        StoreBe32(image.data() + dataStart + i * slotSize, static_cast<uint32_t>(i + 1));
        StoreBe16(image.data() + dataStart + i * slotSize + 4, i + 1 == records ? kSlotLast : 0);
    }
    bottom = PlaceEntries(image, entries, size, random);
    if (chance(10) &&
        bottom - 40 > dataStart + std::max<size_t>(records, 1) * slotSize) // freed, below the area
        bottom = PlaceEntries(image, {{0, 24}}, bottom, random);
    if (chance(10) && !entries.empty() && entries[0].refPos != 0) // a stale owner field
        StoreBe32(image.data() + size - entries[0].length - 8, static_cast<uint32_t>(random()));
    if (records > 0) {
        const uint64_t slot = dataStart + (random() % records) * slotSize + 4;
        if (chance(10))
            StoreBe16(image.data() + slot, LoadBe16(image.data() + slot) | kSlotDeleted);
        else if (chance(5))
            StoreBe16(image.data() + slot, LoadBe16(image.data() + slot) | 0x0100);
        else if (chance(5))
            StoreBe16(image.data() + slot, static_cast<uint16_t>(LoadBe16(image.data() + slot) ^ kSlotLast));
    }
    return image;
}

// Grows a table as a commit does and brings its area to the new end both ways: the full
// compaction of the grown bytes, and the growth path through a file. When the growth path takes
// the table, the two files are byte for byte the same and so are the layouts; when it declines,
// it has written nothing. Returns whether it took the table.
bool GrowBothWays(const std::vector<uint8_t>& image, uint32_t id, uint64_t bytes, uint64_t bottom) {
    TableLayout layout;
    EXPECT_TRUE(ParseTable(image.data(), image.size(), id, layout));
    layout.bottom = std::min(layout.bottom, bottom); // the engine's bottom after an entry was freed
    layout.fileSize += bytes;
    layout.freeSpace += static_cast<int64_t>(bytes);
    const std::vector<uint8_t> grown = Grown(image, bytes);

    std::vector<uint8_t> compacted = grown;
    TableLayout compactedLayout = layout;
    const bool compacts = CompactTable(compacted, compactedLayout);

    tv::devdb::testing::MemoryPlatform platform;
    platform.Put("t", grown);
    std::unique_ptr<DbFile> file;
    EXPECT_EQ(platform.OpenFile("t", OpenMode::Existing, file), OpenOutcome::Opened);
    TableLayout movedLayout = layout;
    const AreaMove outcome = MoveAreaToEnd(*file, movedLayout, image.size());
    EXPECT_NE(outcome, AreaMove::WriteFailed);
    if (outcome != AreaMove::Moved) {
        EXPECT_EQ(platform.Bytes("t"), grown);
        return false;
    }
    EXPECT_TRUE(compacts);
    EXPECT_EQ(platform.Bytes("t"), compacted);
    EXPECT_EQ(movedLayout.bottom, compactedLayout.bottom);
    EXPECT_EQ(movedLayout.freeSpace, compactedLayout.freeSpace);
    EXPECT_EQ(movedLayout.largestEntry, compactedLayout.largestEntry);
    EXPECT_EQ(movedLayout.fileSize, compactedLayout.fileSize);
    EXPECT_EQ(movedLayout.slots.size(), compactedLayout.slots.size());
    TableLayout reread;
    EXPECT_TRUE(ParseTable(platform.Bytes("t").data(), platform.Bytes("t").size(), id, reread));
    EXPECT_EQ(reread.bottom, movedLayout.bottom);
    EXPECT_EQ(reread.freeSpace, movedLayout.freeSpace);
    return true;
}

} // namespace

TEST(TableImage, AGrowthWithoutHolesWritesTheBytesOfTheFullCompaction) {
    std::mt19937 random(20261211);
    int moved = 0, declined = 0;
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE("table " + std::to_string(round));
        uint64_t bottom = 0;
        const std::vector<uint8_t> image = RandomTable(random, 9, bottom);
        TableLayout layout;
        if (!ParseTable(image.data(), image.size(), 9, layout))
            continue; // a last flag taken away: the slot walk runs off, and no commit grows it
        const uint64_t step = LoadBe32(image.data() + 16);
        const uint64_t need = random() % 1000;
        (GrowBothWays(image, 9, step + need - need % step, bottom) ? moved : declined) += 1;
        if (HasFailure())
            break;
    }
    // Both ways are taken often.
    EXPECT_GT(moved, 1000);
    EXPECT_GT(declined, 300);
}

// An area larger than a piece of the move goes in pieces from the top; a piece boundary that
// would fall within an entry's owner field moves down to the entry's start.
TEST(TableImage, AGrowthMovesALargeAreaInPiecesThatKeepEachOwnerFieldWhole) {
    std::mt19937 random(7);
    RecordFormat format;
    for (int i = 0; i < 3; ++i)
        format.AddField("T" + std::to_string(i), kTypeBinary, 0);
    const uint64_t slotSize = format.RecordSize() + kSlotHeaderSize;
    constexpr uint32_t kPiece = 4 << 20;
    // From the top: 1 MiB, then an entry starting 2 bytes below the first piece boundary, then
    // 2 MiB and a small one.
    const uint32_t first = 1 << 20;
    const std::vector<uint32_t> lengths = {first, kPiece + 2 - first - 16, 2 << 20, 100};
    uint64_t area = 0;
    for (uint32_t length : lengths)
        area += length + 8;
    std::vector<uint8_t> image;
    const uint64_t size = 4096 + area;
    ASSERT_TRUE(BuildNewTable(11, format, size, 4096, 0, image));
    const uint64_t dataStart = LoadBe32(image.data() + 12);
    std::vector<PlacedEntry> entries;
    for (size_t i = 0; i < lengths.size(); ++i) {
        const uint64_t slot = dataStart + (i / 3) * slotSize;
        StoreBe32(image.data() + slot, static_cast<uint32_t>(i / 3 + 1));
        entries.push_back({slot + kSlotHeaderSize + (i % 3) * 8, lengths[i]});
    }
    StoreBe16(image.data() + dataStart + 4, 0);
    StoreBe16(image.data() + dataStart + slotSize + 4, kSlotLast);
    const uint64_t bottom = PlaceEntries(image, entries, size, random);
    const uint64_t cut = size - (first + 8) - (lengths[1] + 8);
    ASSERT_EQ(size - cut, kPiece + 2u);
    StoreBe32(image.data() + cut, 0xDEADBEEF); // a stale owner field: the move sets it
    EXPECT_TRUE(GrowBothWays(image, 11, 8192, bottom));
}
