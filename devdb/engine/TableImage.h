// The table file as bytes: its header, the walk of its slots and of the out-of-line area, and
// compaction. Every value taken from the bytes is checked against the file and its area in
// 64-bit arithmetic, so a damaged file is refused rather than followed.
#pragma once
#include "Platform.h"
#include "RecordFormat.h"
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace tv::devdb {

constexpr uint32_t kTableHeaderSize = 48;
constexpr uint32_t kSlotHeaderSize = 6;
constexpr uint16_t kSlotDeleted = 0x8000;
constexpr uint16_t kSlotLast = 0x4000;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;    // offsets are 32-bit
constexpr uint64_t kMaxEntryLength = 0x7FFFFFFFull; // bit 31 of a length is never set in a file
// The largest growth step a table takes: any table's records fit in steps of this size, and a
// larger step in a header is taken for damage rather than grown by.
constexpr int32_t kMaxGrowthStep = 16 << 20;

struct TableHeader {
    uint32_t id = 0;
    uint32_t dataStart = 0;
    int32_t growth = 0;   // finc; 0 or less: the file does not grow
    uint32_t maxSize = 0; // fmaxsize; 0: no limit
};

struct SlotInfo {
    uint32_t key = 0;
    bool deleted = false;
};

// What opening a table file learns from it.
struct TableLayout {
    TableHeader header;
    RecordFormat format;
    uint64_t fileSize = 0;
    std::vector<SlotInfo> slots; // the counted slots, deleted ones included
    uint32_t lastKey = 0;
    uint64_t bottom = 0; // lowest out-of-line entry (the file size when there is none)
    int64_t freeSpace = 0;
    uint32_t largestEntry = 0;

    uint64_t SlotSize() const { return uint64_t{format.RecordSize()} + kSlotHeaderSize; }
    uint64_t SlotOffset(uint64_t index) const { return header.dataStart + index * SlotSize(); }
    // End of the slot area: a table without records still has its placeholder slot.
    uint64_t SlotAreaEnd() const { return SlotOffset(slots.empty() ? 1 : slots.size()); }
    uint64_t Gap() const { return bottom > SlotOffset(slots.size()) ? bottom - SlotOffset(slots.size()) : 0; }
};

// An 8-byte out-of-line reference held in a record.
struct EntryRef {
    uint32_t offset = 0;
    uint32_t length = 0;
};

// Offsets within a record of every out-of-line reference (text, binary, the string list).
std::vector<uint32_t> OutOfLineRefOffsets(const RecordFormat& format);

// The bytes of a new table file (size `initialSize`, at least large enough for its header, format
// and placeholder slot); false when the values are outside the format's limits.
bool BuildNewTable(uint32_t id, const RecordFormat& format, uint64_t initialSize, int32_t growth,
                   uint32_t maxSize, std::vector<uint8_t>& image);

// Reads `size` bytes of a table file at `offset`; false when it cannot.
using ReadBytes = std::function<bool(uint64_t offset, void* buffer, size_t size)>;

// Reads a table file of `size` bytes; false when it is not a valid table with that id. It reads the
// header, the format and the slots, and of the out-of-line area the lengths that close the live
// entries; never more than a window of the file at a time.
bool ParseTable(const ReadBytes& read, uint64_t size, uint32_t expectedId, TableLayout& layout);
bool ParseTable(const uint8_t* data, uint64_t size, uint32_t expectedId, TableLayout& layout);

// The live entries that the references of the live slots name: entry offset -> file position of
// the reference. `slots` holds the slot area from the data start on. False when two references
// name one entry.
bool LiveReferences(const uint8_t* slots, const TableLayout& layout, std::map<uint64_t, uint64_t>& owners);

// Compacts the image in place (live out-of-line entries packed against the end, live slots packed
// from the data start, the last flag on the last kept slot); false when the image is damaged. The
// live entries are those the references of live slots name, whatever other entries' owner fields
// say.
bool CompactTable(std::vector<uint8_t>& image, TableLayout& layout);

// The growth of a table without holes. The file has just grown from `areaEnd` to
// `layout.fileSize`, the new bytes one free entry. When no slot is deleted, each slot holds the
// flags a compaction leaves (the last flag on the last slot only) and the live entries fill the
// out-of-line area from `layout.bottom` to `areaEnd` back to back, a compaction would move the area
// up against the new end and change only the owner fields and the references that follow it.
// MoveAreaToEnd writes those very bytes through `file`, reading the slots and the area alone, a
// window at a time; the area goes first, the slots after, as with a compaction.
enum class AreaMove {
    Moved,       // done; `layout` is the compacted table's
    Declined,    // the table is not so, or could not be read: nothing written, it needs the compaction
    WriteFailed, // the file is to be read again
};
AreaMove MoveAreaToEnd(DbFile& file, TableLayout& layout, uint64_t areaEnd);

// What a trim of a compacted table gives back: the largest multiple of the growth step not above
// the free space, at most reaching the gap (0 for a table that does not grow).
uint64_t TrimmableBytes(const TableLayout& layout);

// Moves the out-of-line area of a compacted image down by `bytes`, with every reference to it, and
// shortens the image by as much; false when that would reach into the slots.
bool ShrinkTable(std::vector<uint8_t>& image, TableLayout& layout, uint64_t bytes);

} // namespace tv::devdb
