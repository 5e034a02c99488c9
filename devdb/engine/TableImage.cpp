#include "TableImage.h"
#include "ByteOrder.h"
#include <algorithm>
#include <cstring>
#include <map>

namespace tv::devdb {

namespace {

const uint8_t kTableMagic[4] = {'Z', 'v', 'D', 'T'};

// Reads of the file go a window at a time, so that a table of any size is opened in bounded
// memory; a growth moves its out-of-line area in pieces of at most kMoveChunk.
constexpr uint64_t kReadWindow = 1 << 20;
constexpr uint64_t kMoveChunk = 4 << 20;

// A live out-of-line entry: where it starts, the length its reference gives, and where that
// reference lies.
struct Entry {
    uint64_t offset;
    uint32_t length;
    uint64_t refPos;
    uint64_t Close() const { return offset + length + 4; } // where its closing length lies
};

// Whether an entry of that offset and length lies in the area and within the file.
bool EntryFits(uint64_t size, uint64_t areaStart, uint64_t offset, uint64_t length) {
    return length <= kMaxEntryLength && offset >= areaStart && offset + length + 8 <= size;
}

// Whether every entry (each one fitting the file) ends in its own length: the closing lengths are
// read in file order, those that follow each other within a page in one read, so that large
// entries are not read for their last four bytes.
bool EntriesCloseWithTheirLengths(const ReadBytes& read, std::vector<Entry> entries) {
    constexpr uint64_t kPage = 4096;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.Close() < b.Close(); });
    std::vector<uint8_t> window;
    for (size_t i = 0; i < entries.size();) {
        const uint64_t first = entries[i].Close();
        size_t end = i + 1;
        while (end < entries.size() && entries[end].Close() - entries[end - 1].Close() <= kPage &&
               entries[end].Close() + 4 - first <= kReadWindow)
            ++end;
        window.resize(static_cast<size_t>(entries[end - 1].Close() + 4 - first));
        if (!read(first, window.data(), window.size()))
            return false;
        for (; i < end; ++i)
            if (LoadBe32(window.data() + (entries[i].Close() - first)) != entries[i].length)
                return false;
    }
    return true;
}

} // namespace

std::vector<uint32_t> OutOfLineRefOffsets(const RecordFormat& format) {
    std::vector<uint32_t> offsets;
    for (const Field& field : format.Fields())
        if (field.OutOfLine())
            offsets.push_back(field.offset);
    if (format.HasStringList())
        offsets.push_back(format.ListReferenceOffset());
    return offsets;
}

bool BuildNewTable(uint32_t id, const RecordFormat& format, uint64_t initialSize, int32_t growth,
                   uint32_t maxSize, std::vector<uint8_t>& image) {
    const std::vector<uint8_t> block = format.Serialize();
    const uint64_t dataStart = kTableHeaderSize + block.size();
    const uint64_t slotSize = uint64_t{format.RecordSize()} + kSlotHeaderSize;
    if (initialSize < dataStart + slotSize || initialSize > kMaxFileSize)
        return false;
    image.assign(static_cast<size_t>(initialSize), 0);
    uint8_t* p = image.data();
    std::memcpy(p, kTableMagic, 4);
    StoreBe32(p + 4, 1);
    StoreBe32(p + 8, id);
    StoreBe32(p + 12, static_cast<uint32_t>(dataStart));
    StoreBe32(p + 16, static_cast<uint32_t>(growth));
    StoreBe32(p + 20, maxSize);
    std::memcpy(p + kTableHeaderSize, block.data(), block.size());
    StoreBe16(p + dataStart + 4, kSlotDeleted | kSlotLast);
    return true;
}

bool ParseTable(const ReadBytes& read, uint64_t size, uint32_t expectedId, TableLayout& layout) {
    layout = TableLayout();
    if (size < kTableHeaderSize || size > kMaxFileSize)
        return false;
    uint8_t header[kTableHeaderSize];
    if (!read(0, header, sizeof header))
        return false;
    if (std::memcmp(header, kTableMagic, 4) != 0 || LoadBe32(header + 4) != 1 ||
        LoadBe32(header + 8) != expectedId)
        return false;
    layout.header.id = expectedId;
    layout.header.dataStart = LoadBe32(header + 12);
    layout.header.growth = static_cast<int32_t>(LoadBe32(header + 16));
    layout.header.maxSize = LoadBe32(header + 20);
    layout.fileSize = size;
    const uint64_t dataStart = layout.header.dataStart;
    if (dataStart < kTableHeaderSize || dataStart > size)
        return false;
    std::vector<uint8_t> block(static_cast<size_t>(dataStart - kTableHeaderSize) + 1);
    uint64_t used = 0;
    if (!read(kTableHeaderSize, block.data(), block.size() - 1) ||
        !layout.format.Parse(block.data(), block.size() - 1, used))
        return false;

    const uint64_t slotSize = layout.SlotSize();
    const std::vector<uint32_t> refs = OutOfLineRefOffsets(layout.format);
    // Walk the slots to the one flagged last; every step advances by a whole slot. They are read a
    // window of whole slots at a time, the window doubling up to kReadWindow, so that a small slot
    // area is read without the area beyond it.
    std::vector<Entry> liveRefs;
    std::vector<uint8_t> window;
    uint64_t windowStart = 0;
    uint64_t walked = 0;
    uint64_t windowSlots = 16;
    for (uint64_t pos = dataStart;; pos += slotSize) {
        if (pos + slotSize > size)
            return false;
        if (pos + slotSize > windowStart + window.size()) {
            const uint64_t slots = std::max<uint64_t>(1, std::min(windowSlots, kReadWindow / slotSize));
            windowSlots *= 2;
            window.resize(static_cast<size_t>(std::min(slots * slotSize, size - pos)));
            windowStart = pos;
            if (!read(pos, window.data(), window.size()))
                return false;
        }
        const uint8_t* slot = window.data() + (pos - windowStart);
        ++walked;
        const uint32_t key = LoadBe32(slot);
        const uint16_t flags = LoadBe16(slot + 4);
        const bool deleted = (flags & kSlotDeleted) != 0;
        const bool last = (flags & kSlotLast) != 0;
        if (!(last && deleted))
            layout.slots.push_back({key, deleted});
        layout.lastKey = key;
        if (!deleted) {
            layout.freeSpace -= static_cast<int64_t>(slotSize);
            for (uint32_t ref : refs) {
                const uint8_t* r = slot + kSlotHeaderSize + ref;
                const uint32_t offset = LoadBe32(r);
                if (offset != 0)
                    liveRefs.push_back({offset, LoadBe32(r + 4), pos + kSlotHeaderSize + ref});
            }
        }
        if (last)
            break;
    }
    const uint64_t areaStart = dataStart + walked * slotSize;
    layout.bottom = size;
    for (const Entry& entry : liveRefs) {
        if (!EntryFits(size, areaStart, entry.offset, entry.length))
            return false;
        layout.freeSpace -= static_cast<int64_t>(entry.length) + 8;
        if (entry.offset < layout.bottom)
            layout.bottom = entry.offset;
        if (entry.length > layout.largestEntry)
            layout.largestEntry = entry.length;
    }
    layout.freeSpace += static_cast<int64_t>(size - dataStart);
    return EntriesCloseWithTheirLengths(read, liveRefs);
}

bool ParseTable(const uint8_t* data, uint64_t size, uint32_t expectedId, TableLayout& layout) {
    const ReadBytes read = [data, size](uint64_t offset, void* buffer, size_t n) {
        if (offset > size || n > size - offset)
            return false;
        if (n > 0)
            std::memcpy(buffer, data + offset, n);
        return true;
    };
    return ParseTable(read, size, expectedId, layout);
}

bool LiveReferences(const uint8_t* slots, const TableLayout& layout, std::map<uint64_t, uint64_t>& owners) {
    owners.clear();
    const std::vector<uint32_t> refs = OutOfLineRefOffsets(layout.format);
    const uint64_t slotSize = layout.SlotSize();
    for (uint64_t i = 0; i < layout.slots.size(); ++i) {
        const uint8_t* slot = slots + i * slotSize;
        if (LoadBe16(slot + 4) & kSlotDeleted)
            continue;
        for (uint32_t ref : refs) {
            const uint32_t offset = LoadBe32(slot + kSlotHeaderSize + ref);
            if (offset != 0 && !owners.emplace(offset, layout.SlotOffset(i) + kSlotHeaderSize + ref).second)
                return false;
        }
    }
    return true;
}

bool CompactTable(std::vector<uint8_t>& image, TableLayout& layout) {
    const uint64_t size = image.size();
    if (size != layout.fileSize || layout.bottom > size)
        return false;
    uint8_t* data = image.data();
    const uint64_t slotSize = layout.SlotSize();
    const uint64_t slotsEnd = layout.SlotAreaEnd();
    if (slotsEnd > layout.bottom)
        return false;
    // The live entries are those the references of live slots name. An entry's owner field alone
    // does not make it live: a commit or removal that stopped half-way may leave an entry whose
    // owner still names a reference that no longer points at it.
    const std::vector<uint32_t> refs = OutOfLineRefOffsets(layout.format);
    std::map<uint64_t, uint64_t> owners; // entry offset -> position of the reference
    if (!LiveReferences(data + layout.header.dataStart, layout, owners))
        return false; // two references to one entry

    // 1. Live entries move up against the file end, keeping their order; others disappear.
    uint64_t end = size;
    uint64_t writeEnd = size;
    uint64_t liveBytes = 0;
    uint32_t largest = 0;
    size_t moved = 0;
    while (end > layout.bottom) {
        if (end - layout.bottom < 8)
            return false;
        const uint64_t length = LoadBe32(data + end - 4);
        if (length > end - layout.bottom - 8)
            return false;
        const uint64_t start = end - length - 8;
        const auto owner = owners.find(start);
        if (owner != owners.end()) {
            if (LoadBe32(data + owner->second + 4) != length)
                return false;
            const uint64_t total = length + 8;
            const uint64_t newStart = writeEnd - total;
            if (newStart != start)
                std::memmove(data + newStart, data + start, static_cast<size_t>(total));
            StoreBe32(data + owner->second, static_cast<uint32_t>(newStart));
            writeEnd = newStart;
            liveBytes += total;
            ++moved;
            if (length > largest)
                largest = static_cast<uint32_t>(length);
        }
        end = start;
    }
    if (moved != owners.size())
        return false; // a live reference names no entry of the area
    layout.bottom = writeEnd;

    // 2. Live slots move down to packed positions; the owners of their entries follow them.
    std::vector<SlotInfo> kept;
    for (uint64_t i = 0; i < layout.slots.size(); ++i) {
        const uint64_t pos = layout.SlotOffset(i);
        if (LoadBe16(data + pos + 4) & kSlotDeleted)
            continue;
        const uint64_t newPos = layout.SlotOffset(kept.size());
        if (newPos != pos)
            std::memmove(data + newPos, data + pos, static_cast<size_t>(slotSize));
        for (uint32_t ref : refs) {
            const uint64_t refPos = newPos + kSlotHeaderSize + ref;
            const uint32_t offset = LoadBe32(data + refPos);
            if (offset != 0)
                StoreBe32(data + offset, static_cast<uint32_t>(refPos));
        }
        StoreBe16(data + newPos + 4, 0);
        kept.push_back({LoadBe32(data + newPos), false});
    }
    // The last flag stands on the last kept slot only; with none kept, the placeholder slot.
    if (kept.empty()) {
        std::memset(data + layout.header.dataStart, 0, static_cast<size_t>(slotSize));
        StoreBe16(data + layout.header.dataStart + 4, kSlotDeleted | kSlotLast);
    } else {
        StoreBe16(data + layout.SlotOffset(kept.size() - 1) + 4, kSlotLast);
    }
    layout.slots = std::move(kept);
    layout.largestEntry = largest;
    layout.freeSpace =
        static_cast<int64_t>(size - layout.header.dataStart - layout.slots.size() * slotSize - liveBytes);
    return true;
}

AreaMove MoveAreaToEnd(DbFile& file, TableLayout& layout, uint64_t areaEnd) {
    const uint64_t size = layout.fileSize;
    const uint64_t bottom = layout.bottom;
    const uint64_t count = layout.slots.size();
    const uint64_t dataStart = layout.header.dataStart;
    if (count == 0 || areaEnd > size || bottom > areaEnd || layout.SlotAreaEnd() > bottom ||
        std::any_of(layout.slots.begin(), layout.slots.end(),
                    [](const SlotInfo& slot) { return slot.deleted; }))
        return AreaMove::Declined;
    const uint64_t slotSize = layout.SlotSize();
    std::vector<uint8_t> slots(static_cast<size_t>(count * slotSize));
    if (!file.Read(dataStart, slots.data(), slots.size()))
        return AreaMove::Declined;
    for (uint64_t i = 0; i < count; ++i)
        if (LoadBe16(slots.data() + i * slotSize + 4) != (i + 1 == count ? kSlotLast : 0))
            return AreaMove::Declined;
    std::map<uint64_t, uint64_t> owners;
    if (!LiveReferences(slots.data(), layout, owners))
        return AreaMove::Declined;
    // The live entries, in the order of their offsets, fill the area from its bottom to its end.
    std::vector<Entry> entries;
    entries.reserve(owners.size());
    uint64_t at = bottom;
    uint32_t largest = 0;
    for (const auto& [offset, refPos] : owners) {
        const uint32_t length = LoadBe32(slots.data() + (refPos - dataStart) + 4);
        if (offset != at || areaEnd - at < uint64_t{length} + 8)
            return AreaMove::Declined;
        entries.push_back({offset, length, refPos});
        at += uint64_t{length} + 8;
        largest = std::max(largest, length);
    }
    if (at != areaEnd)
        return AreaMove::Declined;

    // Each entry ends in its own length, or the compaction would not take the area as it is. A small
    // area is read once, for the check and the move.
    const uint64_t area = areaEnd - bottom;
    const uint64_t shift = size - areaEnd;
    const bool whole = area <= kMoveChunk;
    std::vector<uint8_t> piece;
    if (whole) {
        piece.resize(static_cast<size_t>(area));
        if (!piece.empty() && !file.Read(bottom, piece.data(), piece.size()))
            return AreaMove::Declined;
        for (const Entry& entry : entries)
            if (LoadBe32(piece.data() + (entry.Close() - bottom)) != entry.length)
                return AreaMove::Declined;
    } else if (!EntriesCloseWithTheirLengths(
                   [&file](uint64_t offset, void* buffer, size_t n) { return file.Read(offset, buffer, n); },
                   entries)) {
        return AreaMove::Declined;
    }

    // The area moves up from its top down, a piece at a time, each entry's owner field naming its
    // reference; a piece never cuts an owner field.
    bool written = false;
    for (uint64_t top = areaEnd; top > bottom;) {
        uint64_t low = top - std::min(kMoveChunk, top - bottom);
        auto above =
            std::upper_bound(entries.begin(), entries.end(), low,
                             [](uint64_t offset, const Entry& entry) { return offset < entry.offset; });
        if (above != entries.begin() && low < std::prev(above)->offset + 4)
            low = std::prev(above)->offset;
        if (!whole) {
            piece.resize(static_cast<size_t>(top - low));
            if (!file.Read(low, piece.data(), piece.size()))
                return written ? AreaMove::WriteFailed : AreaMove::Declined;
        }
        for (auto entry = std::lower_bound(entries.begin(), entries.end(), low,
                                           [](const Entry&e, uint64_t offset) { return e.offset < offset; });
             entry != entries.end() && entry->offset < top; ++entry)
            StoreBe32(piece.data() + (entry->offset - low), static_cast<uint32_t>(entry->refPos));
        written = true;
        if (!file.Write(low + shift, piece.data(), piece.size()))
            return AreaMove::WriteFailed;
        top = low;
    }
    // The references follow their entries.
    for (const Entry& entry : entries)
        StoreBe32(slots.data() + (entry.refPos - dataStart), static_cast<uint32_t>(entry.offset + shift));
    if (!file.Write(dataStart, slots.data(), slots.size()))
        return AreaMove::WriteFailed;
    layout.bottom = bottom + shift;
    layout.largestEntry = largest;
    layout.freeSpace = static_cast<int64_t>(size - dataStart - count * slotSize - area);
    return AreaMove::Moved;
}

uint64_t TrimmableBytes(const TableLayout& layout) {
    if (layout.header.growth <= 0 || layout.freeSpace <= 0 || layout.bottom < layout.SlotAreaEnd())
        return 0;
    const uint64_t step = static_cast<uint64_t>(layout.header.growth);
    const uint64_t room =
        std::min(static_cast<uint64_t>(layout.freeSpace), layout.bottom - layout.SlotAreaEnd());
    return room - room % step;
}

bool ShrinkTable(std::vector<uint8_t>& image, TableLayout& layout, uint64_t bytes) {
    const uint64_t size = image.size();
    if (size != layout.fileSize || bytes > layout.bottom || layout.bottom - bytes < layout.SlotAreaEnd())
        return false;
    if (bytes == 0)
        return true;
    uint8_t* data = image.data();
    // Every live reference points into the area, which moves down as a whole.
    for (uint64_t i = 0; i < layout.slots.size(); ++i) {
        const uint64_t pos = layout.SlotOffset(i);
        if (LoadBe16(data + pos + 4) & kSlotDeleted)
            continue;
        for (uint32_t ref : OutOfLineRefOffsets(layout.format)) {
            uint8_t* r = data + pos + kSlotHeaderSize + ref;
            const uint32_t offset = LoadBe32(r);
            if (offset == 0)
                continue;
            if (offset < layout.bottom)
                return false;
            StoreBe32(r, static_cast<uint32_t>(offset - bytes));
        }
    }
    std::memmove(data + layout.bottom - bytes, data + layout.bottom,
                 static_cast<size_t>(size - layout.bottom));
    image.resize(static_cast<size_t>(size - bytes));
    layout.fileSize -= bytes;
    layout.bottom -= bytes;
    layout.freeSpace -= static_cast<int64_t>(bytes);
    return true;
}

} // namespace tv::devdb
