#include "TableImage.h"
#include "ByteOrder.h"
#include <algorithm>
#include <cstring>
#include <map>

namespace tv::devdb {

namespace {

const uint8_t kTableMagic[4] = {'Z', 'v', 'D', 'T'};

// One live out-of-line reference with the checks of its entry done.
bool CheckEntry(const uint8_t* data, uint64_t size, uint64_t areaStart, uint32_t offset, uint32_t length) {
    if (length > kMaxEntryLength)
        return false;
    const uint64_t end = uint64_t{offset} + length + 8;
    if (offset < areaStart || end > size)
        return false;
    return LoadBe32(data + end - 4) == length;
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

bool ParseTable(const uint8_t* data, uint64_t size, uint32_t expectedId, TableLayout& layout) {
    layout = TableLayout();
    if (size < kTableHeaderSize || size > kMaxFileSize)
        return false;
    if (std::memcmp(data, kTableMagic, 4) != 0 || LoadBe32(data + 4) != 1 || LoadBe32(data + 8) != expectedId)
        return false;
    layout.header.id = expectedId;
    layout.header.dataStart = LoadBe32(data + 12);
    layout.header.growth = static_cast<int32_t>(LoadBe32(data + 16));
    layout.header.maxSize = LoadBe32(data + 20);
    layout.fileSize = size;
    const uint64_t dataStart = layout.header.dataStart;
    if (dataStart < kTableHeaderSize || dataStart > size)
        return false;
    uint64_t used = 0;
    if (!layout.format.Parse(data + kTableHeaderSize, dataStart - kTableHeaderSize, used))
        return false;

    const uint64_t slotSize = layout.SlotSize();
    const std::vector<uint32_t> refs = OutOfLineRefOffsets(layout.format);
    // Walk the slots to the one flagged last; every step advances by a whole slot.
    std::vector<std::pair<uint32_t, uint32_t>> liveRefs;
    uint64_t walked = 0;
    for (uint64_t pos = dataStart;; pos += slotSize) {
        if (pos + slotSize > size)
            return false;
        ++walked;
        const uint32_t key = LoadBe32(data + pos);
        const uint16_t flags = LoadBe16(data + pos + 4);
        const bool deleted = (flags & kSlotDeleted) != 0;
        const bool last = (flags & kSlotLast) != 0;
        if (!(last && deleted))
            layout.slots.push_back({key, deleted});
        layout.lastKey = key;
        if (!deleted) {
            layout.freeSpace -= static_cast<int64_t>(slotSize);
            for (uint32_t ref : refs) {
                const uint8_t* r = data + pos + kSlotHeaderSize + ref;
                const uint32_t offset = LoadBe32(r);
                if (offset != 0)
                    liveRefs.emplace_back(offset, LoadBe32(r + 4));
            }
        }
        if (last)
            break;
    }
    const uint64_t areaStart = dataStart + walked * slotSize;
    layout.bottom = size;
    for (const auto& [offset, length] : liveRefs) {
        if (!CheckEntry(data, size, areaStart, offset, length))
            return false;
        layout.freeSpace -= static_cast<int64_t>(length) + 8;
        if (offset < layout.bottom)
            layout.bottom = offset;
        if (length > layout.largestEntry)
            layout.largestEntry = length;
    }
    layout.freeSpace += static_cast<int64_t>(size - dataStart);
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
    for (uint64_t i = 0; i < layout.slots.size(); ++i) {
        const uint64_t pos = layout.SlotOffset(i);
        if (LoadBe16(data + pos + 4) & kSlotDeleted)
            continue;
        for (uint32_t ref : refs) {
            const uint32_t offset = LoadBe32(data + pos + kSlotHeaderSize + ref);
            if (offset != 0 && !owners.emplace(offset, pos + kSlotHeaderSize + ref).second)
                return false; // two references to one entry
        }
    }

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
