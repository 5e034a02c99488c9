#include "Table.h"
#include "ByteOrder.h"
#include "Cursor.h"
#include <algorithm>
#include <cstring>

namespace tv::devdb {

std::vector<std::string> DecodeStringList(const std::vector<uint8_t>& data) {
    std::vector<std::string> strings;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == 0) {
            strings.emplace_back(reinterpret_cast<const char*>(data.data() + start), i - start);
            start = i + 1;
        }
    }
    if (start < data.size())
        strings.emplace_back(reinterpret_cast<const char*>(data.data() + start), data.size() - start);
    return strings;
}

std::vector<uint8_t> EncodeStringList(const std::vector<std::string>& strings) {
    std::vector<uint8_t> data;
    for (const std::string& s : strings) {
        data.insert(data.end(), s.begin(), s.end());
        data.push_back(0);
    }
    return data;
}

Table::Table(DbPlatform& platform, std::string name, uint32_t id, std::string path)
    : platform_(platform), name_(std::move(name)), id_(id), path_(std::move(path)) {}

Table::~Table() = default;

OpenOutcome Table::CreateFile(DbPlatform& platform, const std::string& path, uint32_t id,
                              const RecordFormat& format, int64_t initialSize, int32_t growth,
                              int64_t maxSize) {
    std::vector<uint8_t> image;
    if (initialSize < 0 || maxSize < 0 || static_cast<uint64_t>(maxSize) > kMaxFileSize ||
        !BuildNewTable(id, format, static_cast<uint64_t>(initialSize), growth, static_cast<uint32_t>(maxSize),
                       image))
        return OpenOutcome::Failed;
    std::unique_ptr<DbFile> file;
    const OpenOutcome outcome = platform.OpenFile(path, OpenMode::CreateNew, file);
    if (outcome != OpenOutcome::Opened)
        return outcome;
    if (!file->Write(0, image.data(), image.size()) || !file->Flush()) {
        file.reset();
        platform.RemoveFile(path);
        return OpenOutcome::Failed;
    }
    return OpenOutcome::Opened;
}

bool Table::Open() {
    LockHold hold(platform_.TableLock());
    file_.reset();
    valid_ = false;
    if (platform_.OpenFile(path_, OpenMode::Existing, file_) != OpenOutcome::Opened) {
        file_.reset();
        return false;
    }
    if (!stamp_)
        stamp_ = platform_.OpenChangeStamp(path_);
    seenStamp_ = stamp_ ? stamp_->Read() : 0;
    valid_ = LoadFromFile();
    return valid_;
}

bool Table::Reopen() {
    LockHold hold(platform_.TableLock());
    if (valid_ && file_)
        return true;
    return Open();
}

bool Table::IsValid() {
    Access access(*this);
    return valid_;
}

void Table::Close() {
    LockHold hold(platform_.TableLock());
    file_.reset();
    valid_ = false;
}

bool Table::LoadFromFile() {
    uint64_t size = 0;
    if (!file_ || !file_->Size(size) || size < kTableHeaderSize || size > kMaxFileSize)
        return false;
    ++generation_;
    // The header, the format and the slots are read; the records when they are asked for.
    DbFile& file = *file_;
    return ParseTable(
        [&file](uint64_t offset, void* buffer, size_t n) { return file.Read(offset, buffer, n); }, size, id_,
        layout_);
}

void Table::RefreshIfChanged() {
    if (!file_ || !stamp_)
        return;
    const uint64_t stamp = stamp_->Read();
    if (stamp == seenStamp_)
        return;
    seenStamp_ = stamp;
    valid_ = LoadFromFile();
}

void Table::NoteWritten() {
    slotWindow_.bytes.clear(); // a walk's copies of the file are stale from now on
    areaWindow_.bytes.clear();
    if (stamp_) {
        stamp_->Raise();
        seenStamp_ = stamp_->Read();
    }
}

Table::Access::Access(Table& table) : table_(table) {
    table_.platform_.TableLock().Acquire();
    table_.RefreshIfChanged();
}

Table::Access::~Access() {
    table_.platform_.TableLock().Release();
}

RecordFormat Table::Format() {
    Access access(*this);
    return layout_.format;
}

bool Table::FileSize(uint64_t& size) {
    Access access(*this);
    if (!valid_)
        return false;
    size = layout_.fileSize;
    return true;
}

uint64_t Table::Generation() {
    Access access(*this);
    return generation_;
}

int Table::FindSlot(uint32_t key) const {
    // The slots are sorted by key: keys are handed out in increasing order.
    const auto& slots = layout_.slots;
    auto it = std::lower_bound(slots.begin(), slots.end(), key,
                               [](const SlotInfo& slot, uint32_t k) { return slot.key < k; });
    if (it == slots.end() || it->key != key || it->deleted)
        return -1;
    return static_cast<int>(it - slots.begin());
}

bool Table::ReadThrough(ScanWindow& window, uint64_t from, uint64_t to, uint64_t offset, void* buffer,
                        size_t size) {
    if (!scanning_ || offset < from || offset + size > to || to - from > kScanWindow)
        return file_->Read(offset, buffer, size);
    if (offset < window.start || offset + size > window.start + window.bytes.size()) {
        window.start = from;
        window.bytes.resize(static_cast<size_t>(to - from));
        if (!file_->Read(from, window.bytes.data(), window.bytes.size())) {
            window.bytes.clear();
            return false;
        }
    }
    if (size > 0)
        std::memcpy(buffer, window.bytes.data() + (offset - window.start), size);
    return true;
}

bool Table::ReadSlotBytes(uint64_t offset, void* buffer, size_t size) {
    // The slots are walked upwards: the window reaches from the slot up, no further than the slots.
    const uint64_t slotsEnd = layout_.SlotAreaEnd();
    const uint64_t to = std::min(slotsEnd, offset + kScanWindow);
    return ReadThrough(slotWindow_, offset, to, offset, buffer, size);
}

bool Table::ReadSlotRecord(size_t index, SlotRecord& record) {
    record.bytes.assign(layout_.format.RecordSize(), 0);
    record.strings.clear();
    const uint64_t pos = layout_.SlotOffset(index) + kSlotHeaderSize;
    if (!record.bytes.empty() && !ReadSlotBytes(pos, record.bytes.data(), record.bytes.size()))
        return false;
    if (layout_.format.HasStringList()) {
        const uint8_t* r = record.bytes.data() + layout_.format.ListReferenceOffset();
        const EntryRef ref{LoadBe32(r), LoadBe32(r + 4)};
        std::vector<uint8_t> list;
        if (!ReadEntry(ref, list))
            return false;
        record.strings = DecodeStringList(list);
    }
    return true;
}

bool Table::LiveKeys(std::vector<uint32_t>& keys) {
    Access access(*this);
    keys.clear();
    if (!valid_)
        return false;
    for (const SlotInfo& slot : layout_.slots)
        if (!slot.deleted)
            keys.push_back(slot.key);
    return true;
}

bool Table::SelectKeys(const std::function<bool(uint32_t, const SlotRecord&)>& test,
                       std::vector<uint32_t>& keys) {
    Access access(*this);
    keys.clear();
    if (!valid_)
        return false;
    // The walk reads the slots a window at a time while the lock is held; the texts the test asks
    // for are read from the file.
    struct Scan {
        Table& table;
        ~Scan() {
            table.scanning_ = false;
            table.slotWindow_ = {};
            table.areaWindow_ = {};
        }
    } scan{*this};
    scanning_ = true;
    // A test may commit, and a commit may compact the table and move its slots: each row is found
    // again by its key, and a row removed meanwhile is passed over.
    const std::vector<SlotInfo> slots = layout_.slots;
    for (const SlotInfo& slot : slots) {
        if (slot.deleted || IsEditing(slot.key))
            continue;
        const int index = FindSlot(slot.key);
        if (index < 0)
            continue;
        SlotRecord record;
        if (!ReadSlotRecord(static_cast<size_t>(index), record))
            return false;
        if (test(slot.key, record))
            keys.push_back(slot.key);
    }
    return true;
}

bool Table::ReadRecord(uint32_t key, SlotRecord& record, uint64_t& generation) {
    Access access(*this);
    if (!valid_)
        return false;
    const int index = FindSlot(key);
    if (index < 0 || !ReadSlotRecord(static_cast<size_t>(index), record))
        return false;
    generation = generation_;
    return true;
}

bool Table::ReadReferences(uint32_t key, std::vector<uint8_t>& bytes, uint64_t& generation) {
    Access access(*this);
    if (!valid_)
        return false;
    const int index = FindSlot(key);
    if (index < 0)
        return false;
    bytes.assign(layout_.format.RecordSize(), 0);
    if (!bytes.empty() && !file_->Read(layout_.SlotOffset(static_cast<size_t>(index)) + kSlotHeaderSize,
                                       bytes.data(), bytes.size()))
        return false;
    generation = generation_;
    return true;
}

bool Table::ReadEntry(const EntryRef& ref, std::vector<uint8_t>& data) {
    Access access(*this);
    data.clear();
    if (!valid_)
        return false;
    if (ref.offset == 0)
        return true;
    const uint64_t end = uint64_t{ref.offset} + ref.length + 8;
    if (ref.length > kMaxEntryLength || ref.offset < layout_.SlotAreaEnd() || end > layout_.fileSize)
        return false;
    data.resize(ref.length);
    // The slots' entries lie further down the area the later the slot: a walk's window reaches from
    // the entry's end down, no further than the area.
    const uint64_t from = std::max(layout_.bottom, end - std::min<uint64_t>(end, kScanWindow));
    return ref.length == 0 || ReadThrough(areaWindow_, std::min<uint64_t>(from, ref.offset), end,
                                          uint64_t{ref.offset} + 4, data.data(), data.size());
}

bool Table::WriteEntry(uint32_t owner, const std::vector<uint8_t>& data, EntryRef& ref) {
    const uint64_t total = uint64_t{data.size()} + 8;
    if (data.size() > kMaxEntryLength || layout_.bottom < total ||
        layout_.bottom - total < layout_.SlotOffset(layout_.slots.size()))
        return false;
    const uint64_t start = layout_.bottom - total;
    std::vector<uint8_t> entry(static_cast<size_t>(total));
    StoreBe32(entry.data(), owner);
    std::copy(data.begin(), data.end(), entry.begin() + 4);
    StoreBe32(entry.data() + total - 4, static_cast<uint32_t>(data.size()));
    if (!file_->Write(start, entry.data(), entry.size()))
        return false;
    layout_.bottom = start;
    layout_.freeSpace -= static_cast<int64_t>(total);
    layout_.largestEntry = std::max(layout_.largestEntry, static_cast<uint32_t>(data.size()));
    ref = {static_cast<uint32_t>(start), static_cast<uint32_t>(data.size())};
    return true;
}

bool Table::FreeEntry(const EntryRef& ref) {
    if (ref.offset == 0)
        return true;
    if (ref.offset < layout_.bottom || uint64_t{ref.offset} + ref.length + 8 > layout_.fileSize)
        return false;
    const uint8_t zero[4] = {};
    if (!file_->Write(ref.offset, zero, 4))
        return false;
    layout_.freeSpace += static_cast<int64_t>(ref.length) + 8;
    return true;
}

bool Table::SetSlotFlags(size_t index, uint16_t flags) {
    uint8_t bytes[2];
    StoreBe16(bytes, flags);
    return file_->Write(layout_.SlotOffset(index) + 4, bytes, 2);
}

bool Table::Grow(uint64_t need) {
    const int64_t step = layout_.header.growth;
    // A growth step of 0 or less: the file keeps its size. A step beyond any table's need is a
    // damaged header: growing by it would add up to 2 GiB at once.
    if (step <= 0 || step > kMaxGrowthStep)
        return false;
    const uint64_t inc = static_cast<uint64_t>(step);
    const uint64_t bytes = inc + need - need % inc;
    const uint64_t oldSize = layout_.fileSize;
    const uint64_t newSize = oldSize + bytes;
    if (bytes <= 7 || newSize > kMaxFileSize ||
        (layout_.header.maxSize != 0 && newSize > layout_.header.maxSize))
        return false;
    uint8_t length[4];
    StoreBe32(length, static_cast<uint32_t>(bytes - 8));
    const uint8_t zero[4] = {};
    if (!file_->Write(newSize - 4, length, 4) || !file_->Write(oldSize, zero, 4)) {
        file_->Resize(oldSize);
        return false;
    }
    layout_.fileSize = newSize;
    layout_.freeSpace += static_cast<int64_t>(bytes);
    NoteWritten();
    // A table without holes has its area moved up to the new end with its references, which is all
    // a compaction would change in it; any other table is compacted.
    switch (MoveAreaToEnd(*file_, layout_, oldSize)) {
    case AreaMove::Moved:
        ++generation_; // records read before now reload their references
        NoteWritten();
        return true;
    case AreaMove::WriteFailed:
        valid_ = LoadFromFile();
        NoteWritten();
        return false;
    case AreaMove::Declined:
        break;
    }
    return Compact();
}

bool Table::WriteChangedBlocks(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                               uint64_t from, uint64_t to) {
    // Only the blocks that changed are written.
    constexpr uint64_t kBlock = 65536;
    for (uint64_t pos = from; pos < to; pos += kBlock) {
        const size_t n = static_cast<size_t>(std::min(kBlock, to - pos));
        if (std::memcmp(before.data() + pos, after.data() + pos, n) != 0 &&
            !file_->Write(pos, after.data() + pos, n))
            return false;
    }
    return true;
}

bool Table::Compact() {
    Access access(*this);
    return Repack(false);
}

bool Table::Trim() {
    Access access(*this);
    return Repack(true) && file_->Flush();
}

bool Table::Repack(bool trim) {
    if (!valid_)
        return false;
    std::vector<uint8_t> image(static_cast<size_t>(layout_.fileSize));
    if (!file_->Read(0, image.data(), image.size()))
        return false;
    std::vector<uint8_t> packed = image;
    TableLayout layout = layout_;
    const bool packs = CompactTable(packed, layout);
    const uint64_t giveBack = packs && trim ? TrimmableBytes(layout) : 0;
    if (!packs || (giveBack > 0 && !ShrinkTable(packed, layout, giveBack))) {
        valid_ = false; // the file contradicts itself: nothing more is done with it
        return false;
    }
    // The out-of-line area goes to its place first, the slots that refer to it after; then a
    // trimmed file is cut.
    if (!WriteChangedBlocks(image, packed, layout.bottom, packed.size()) ||
        !WriteChangedBlocks(image, packed, layout.header.dataStart, layout.bottom) ||
        (giveBack > 0 && !file_->Resize(layout.fileSize))) {
        valid_ = LoadFromFile();
        NoteWritten();
        return false;
    }
    layout_ = std::move(layout);
    ++generation_; // records read before now reload their references
    NoteWritten();
    return true;
}

bool Table::ReserveSpace(uint64_t need) {
    if (need < layout_.Gap())
        return true;
    if (layout_.freeSpace > 0 && need < static_cast<uint64_t>(layout_.freeSpace)) {
        if (!Compact())
            return false;
    } else if (!Grow(need)) {
        return false;
    }
    return need < layout_.Gap();
}

bool Table::Commit(uint32_t& key, std::vector<uint8_t>& bytes,
                   const std::map<uint32_t, std::vector<uint8_t>>& pending,
                   const std::vector<uint8_t>* list) {
    Access access(*this);
    const RecordFormat& format = layout_.format;
    if (!valid_ || bytes.size() != format.RecordSize())
        return false;
    const bool isNew = key == 0;
    uint64_t need = isNew ? layout_.SlotSize() : 0;
    for (const auto& [offset, data] : pending)
        if (!data.empty())
            need += uint64_t{data.size()} + 8;
    if (list && !list->empty())
        need += uint64_t{list->size()} + 8;
    if (need > kMaxFileSize || (isNew && layout_.lastKey == 0xFFFFFFFFu))
        return false;
    if (!ReserveSpace(need))
        return false;

    // The slot is looked up only now: a compaction may have moved it since the record was read.
    size_t index = layout_.slots.size();
    std::vector<uint8_t> current(static_cast<size_t>(layout_.SlotSize()), 0);
    if (!isNew) {
        const int found = FindSlot(key);
        if (found < 0)
            return false;
        index = static_cast<size_t>(found);
        if (!file_->Read(layout_.SlotOffset(index), current.data(), current.size()))
            return false;
    }
    const uint64_t slotPos = layout_.SlotOffset(index);

    // 1. The new values go into the gap, where nothing refers to them until the slot is written: a
    // failure up to then leaves the table as it was, and the record can commit again.
    const AreaMark mark{layout_.bottom, layout_.freeSpace, layout_.largestEntry};
    std::vector<EntryRef> replaced;
    for (uint32_t refOffset : OutOfLineRefOffsets(format)) {
        uint8_t* held = bytes.data() + refOffset;
        const uint8_t* stored = current.data() + kSlotHeaderSize + refOffset;
        const bool isList = format.HasStringList() && refOffset == format.ListReferenceOffset();
        const auto setAnew = pending.find(refOffset);
        const std::vector<uint8_t>* data =
            isList ? list : (setAnew != pending.end() ? &setAnew->second : nullptr);
        if (!data) {
            std::memcpy(held, stored, 8); // as the file holds it now
            continue;
        }
        replaced.push_back({LoadBe32(stored), LoadBe32(stored + 4)});
        EntryRef ref;
        if (!data->empty() &&
            !WriteEntry(static_cast<uint32_t>(slotPos + kSlotHeaderSize + refOffset), *data, ref))
            return Abandon(mark);
        StoreBe32(held, ref.offset);
        StoreBe32(held + 4, ref.length);
    }

    // 2. The slot: written in one piece, it is the moment the record changes. A new slot lies past
    // the slot flagged last until that flag moves onto it.
    if (isNew) {
        StoreBe32(current.data(), layout_.lastKey + 1);
        StoreBe16(current.data() + 4, kSlotLast);
    }
    if (!bytes.empty())
        std::memcpy(current.data() + kSlotHeaderSize, bytes.data(), bytes.size());
    if (!file_->Write(slotPos, current.data(), current.size()))
        return Abandon(mark);
    if (isNew && index > 0) {
        uint8_t flags[2];
        if (!file_->Read(layout_.SlotOffset(index - 1) + 4, flags, 2) ||
            !SetSlotFlags(index - 1, LoadBe16(flags) & ~kSlotLast))
            return Abandon(mark);
    }
    if (isNew) {
        key = layout_.lastKey + 1;
        layout_.slots.push_back({key, false});
        layout_.lastKey = key;
        layout_.freeSpace -= static_cast<int64_t>(layout_.SlotSize());
        BeginEditing(key);
    }

    // 3. Only now are the values it replaced freed. An entry that cannot be marked free is no longer
    // named by any slot, so the next compaction drops it all the same.
    for (const EntryRef& old : replaced)
        FreeEntry(old);
    const bool flushed = file_->Flush();
    NoteWritten();
    Notify(isNew ? kEventRecordAdded : kEventRecordChanged, key);
    return flushed;
}

bool Table::Abandon(const AreaMark& mark) {
    // What was written went into the gap only: the table's picture of its area is put back.
    layout_.bottom = mark.bottom;
    layout_.freeSpace = mark.freeSpace;
    layout_.largestEntry = mark.largestEntry;
    return false;
}

bool Table::Remove(uint32_t key, bool& removed) {
    Access access(*this);
    removed = false;
    if (!valid_)
        return false;
    const int found = FindSlot(key);
    if (found < 0)
        return false;
    const size_t index = static_cast<size_t>(found);
    std::vector<uint8_t> slot(static_cast<size_t>(layout_.SlotSize()));
    if (!file_->Read(layout_.SlotOffset(index), slot.data(), slot.size()))
        return false;
    // The flags are the moment the record goes; its values are freed after.
    const size_t count = layout_.slots.size();
    if (index + 1 == count && index > 0) {
        // The last slot goes back to the gap and is used again by the next add.
        uint8_t flags[2];
        if (!file_->Read(layout_.SlotOffset(index - 1) + 4, flags, 2) ||
            !SetSlotFlags(index - 1, LoadBe16(flags) | kSlotLast))
            return false;
        layout_.slots.pop_back();
    } else if (count == 1) {
        if (!SetSlotFlags(0, kSlotDeleted | kSlotLast))
            return false;
        layout_.slots.clear();
    } else {
        if (!SetSlotFlags(index, LoadBe16(slot.data() + 4) | kSlotDeleted))
            return false;
        layout_.slots[index].deleted = true;
    }
    removed = true;
    layout_.freeSpace += static_cast<int64_t>(layout_.SlotSize());
    for (uint32_t refOffset : OutOfLineRefOffsets(layout_.format)) {
        const uint8_t* r = slot.data() + kSlotHeaderSize + refOffset;
        FreeEntry({LoadBe32(r), LoadBe32(r + 4)}); // an entry left unmarked goes at the next compaction
    }
    const bool flushed = file_->Flush();
    NoteWritten();
    Notify(kEventRecordRemoved, key);
    return flushed;
}

void Table::AddCursor(Cursor* cursor) {
    std::lock_guard<std::mutex> guard(listsMutex_);
    cursors_.push_back(cursor);
}

void Table::RemoveCursor(Cursor* cursor) {
    std::lock_guard<std::mutex> guard(listsMutex_);
    cursors_.erase(std::remove(cursors_.begin(), cursors_.end(), cursor), cursors_.end());
}

size_t Table::CursorCount() {
    std::lock_guard<std::mutex> guard(listsMutex_);
    return cursors_.size();
}

bool Table::ListedByOtherCursor(uint32_t key, const Cursor* except) {
    std::lock_guard<std::mutex> guard(listsMutex_);
    for (Cursor* cursor : cursors_)
        if (cursor != except && cursor->Lists(key))
            return true;
    return false;
}

bool Table::IsEditing(uint32_t key) {
    std::lock_guard<std::mutex> guard(listsMutex_);
    return editing_.count(key) != 0;
}

bool Table::BeginEditing(uint32_t key) {
    std::lock_guard<std::mutex> guard(listsMutex_);
    return editing_.insert(key).second;
}

void Table::EndEditing(uint32_t key) {
    std::lock_guard<std::mutex> guard(listsMutex_);
    editing_.erase(key);
}

int Table::AddListener(TableListener listener) {
    LockHold hold(platform_.EventLock());
    const int cookie = nextListener_++;
    listeners_[cookie] = std::move(listener);
    return cookie;
}

void Table::RemoveListener(int cookie) {
    LockHold hold(platform_.EventLock());
    listeners_.erase(cookie);
}

void Table::Notify(uint32_t event, uint32_t key) {
    LockHold hold(platform_.EventLock());
    for (const auto& [cookie, listener] : listeners_)
        listener(name_, event, key);
}

} // namespace tv::devdb
