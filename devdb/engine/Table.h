// One table of a catalog: it owns its file and keeps what the file says (slots, out-of-line area,
// space) in step with it. All access to the data goes through the system-wide table lock; when
// another process changed the file since we last looked, the picture is read again first.
#pragma once
#include "Platform.h"
#include "TableImage.h"
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tv::devdb {

class Cursor;
class Record;

enum ListenerEvent : uint32_t {
    kEventRecordAdded = 0x10001,
    kEventRecordRemoved = 0x10002,
    kEventRecordChanged = 0x10003,
};

using TableListener = std::function<void(const std::string& table, uint32_t event, uint32_t key)>;

// A record's content as read from its slot.
struct SlotRecord {
    std::vector<uint8_t> bytes;
    std::vector<std::string> strings; // the string list
};

class Table {
  public:
    Table(DbPlatform& platform, std::string name, uint32_t id, std::string path);
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    ~Table();

    // Creates the table file (which must not exist yet).
    static OpenOutcome CreateFile(DbPlatform& platform, const std::string& path, uint32_t id,
                                  const RecordFormat& format, int64_t initialSize, int32_t growth,
                                  int64_t maxSize);

    // Opens the file and reads it; the table is valid when it succeeds.
    bool Open();
    // Reads the file again when the table is not valid; true when it is valid afterwards.
    bool Reopen();
    bool IsValid();
    void Close();

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    uint32_t Id() const { return id_; }
    const std::string& Path() const { return path_; }
    RecordFormat Format();
    bool FileSize(uint64_t& size);

    // Keys of the live slots in file order.
    bool LiveKeys(std::vector<uint32_t>& keys);
    // Keys of the live slots, not being edited, for which `test` holds.
    bool SelectKeys(const std::function<bool(uint32_t key, const SlotRecord&)>& test,
                    std::vector<uint32_t>& keys);

    // Reads a record by key; false when there is none (or it is deleted).
    bool ReadRecord(uint32_t key, SlotRecord& record, uint64_t& generation);
    // The out-of-line references of a record as the file holds them now.
    bool ReadReferences(uint32_t key, std::vector<uint8_t>& bytes, uint64_t& generation);
    bool ReadEntry(const EntryRef& ref, std::vector<uint8_t>& data);
    uint64_t Generation();

    // Writes a record: `key` 0 adds one (the new key is returned in it). `pending` holds the new
    // out-of-line values by their offset in the record; `list` the new string list when changed.
    // False when the record could not be written (the table is as it was) or when the file could
    // not be flushed afterwards (a new record has its key then, so that committing it again
    // rewrites it rather than adding it twice).
    bool Commit(uint32_t& key, std::vector<uint8_t>& bytes,
                const std::map<uint32_t, std::vector<uint8_t>>& pending, const std::vector<uint8_t>* list);
    // Removes a record; `removed` tells whether it is gone from the table, which it can be even when
    // the flush that follows fails.
    bool Remove(uint32_t key, bool& removed);
    // Packs the file: see CompactTable.
    bool Compact();
    // Compacts, then gives back the free space at the file's end in whole growth steps: the
    // out-of-line area moves down and the file is shortened (see TrimmableBytes).
    bool Trim();

    // Cursors and the records open for editing, for the edit refusals.
    void AddCursor(Cursor* cursor);
    void RemoveCursor(Cursor* cursor);
    bool ListedByOtherCursor(uint32_t key, const Cursor* except);
    bool IsEditing(uint32_t key);
    bool BeginEditing(uint32_t key);
    void EndEditing(uint32_t key);
    size_t CursorCount();

    int AddListener(TableListener listener);
    void RemoveListener(int cookie);

    // The table lock with the file brought up to date.
    class Access {
      public:
        explicit Access(Table& table);
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;
        ~Access();

      private:
        Table& table_;
    };

  private:
    // The picture of the out-of-line area before a commit wrote into the gap.
    struct AreaMark {
        uint64_t bottom;
        int64_t freeSpace;
        uint32_t largestEntry;
    };

    bool LoadFromFile();
    void RefreshIfChanged();
    void NoteWritten();
    int FindSlot(uint32_t key) const;
    bool ReadSlotRecord(size_t index, SlotRecord& record);
    // A condition walk's copy of a stretch of the file: from `start`, empty when stale.
    struct ScanWindow {
        uint64_t start = 0;
        std::vector<uint8_t> bytes;
    };
    // Reads from the file, or during a condition walk through `window`: when it does not hold the
    // bytes, it is filled with the stretch from `from` to `to` (which holds them, at most
    // kScanWindow; a larger stretch is not copied) first.
    bool ReadThrough(ScanWindow& window, uint64_t from, uint64_t to, uint64_t offset, void* buffer,
                     size_t size);
    bool ReadSlotBytes(uint64_t offset, void* buffer, size_t size);
    bool ReserveSpace(uint64_t need);
    bool Grow(uint64_t bytes);
    bool WriteEntry(uint32_t owner, const std::vector<uint8_t>& data, EntryRef& ref);
    bool FreeEntry(const EntryRef& ref);
    bool SetSlotFlags(size_t index, uint16_t flags);
    // A commit that stopped before its slot was written; false.
    bool Abandon(const AreaMark& mark);
    // Compacts the file and, with `trim`, gives back the free space at its end.
    bool Repack(bool trim);
    bool WriteChangedBlocks(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                            uint64_t from, uint64_t to);
    void Notify(uint32_t event, uint32_t key);

    DbPlatform& platform_;
    std::string name_;
    uint32_t id_;
    std::string path_;
    std::unique_ptr<DbFile> file_;
    std::unique_ptr<ChangeStamp> stamp_;
    uint64_t seenStamp_ = 0;
    bool valid_ = false;
    TableLayout layout_;
    uint64_t generation_ = 1;
    // A condition walk's windows of the slots and of the out-of-line area, each up to kScanWindow.
    static constexpr uint64_t kScanWindow = 256 << 10;
    bool scanning_ = false;
    ScanWindow slotWindow_;
    ScanWindow areaWindow_;

    std::mutex listsMutex_;
    std::vector<Cursor*> cursors_;
    std::set<uint32_t> editing_;
    std::map<int, TableListener> listeners_;
    int nextListener_ = 1;
};

// Decodes the data of a string-list entry; a missing final zero byte is supplied.
std::vector<std::string> DecodeStringList(const std::vector<uint8_t>& data);
std::vector<uint8_t> EncodeStringList(const std::vector<std::string>& strings);

} // namespace tv::devdb
