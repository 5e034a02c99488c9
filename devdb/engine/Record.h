// One row of a table held in memory: a copy of its bytes and its string list, with the values set
// on it kept aside until commit.
#pragma once
#include "Table.h"
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tv::devdb {

class Cursor;

class Record {
  public:
    // `cursor` is null for the records a condition looks at while a cursor is being made.
    Record(std::shared_ptr<Table> table, std::shared_ptr<Cursor> cursor, uint32_t key, SlotRecord content,
           uint64_t generation, bool editable);
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    uint32_t Key() const { return key_; }
    bool Editable() const { return editable_; }
    bool Released() const { return released_; }
    const RecordFormat& Format() const { return format_; }

    // Bool, byte, word, dword and reference values (types 1..5); a get of another kind yields 0
    // and fails.
    bool GetNumber(size_t field, int type, uint32_t& value) const;
    bool SetNumber(size_t field, int type, uint32_t value);
    // Texts of types 6, 8 and 10.
    bool GetText(size_t field, std::string& text);
    bool SetText(size_t field, std::string_view text);
    // Fixed size, stored length or string length; 0 for an invalid index.
    uint32_t FieldSize(size_t field);

    bool Commit();
    // Gives the record back to its cursor; false when it was already released.
    bool Release();

  private:
    const Field* FieldOf(size_t index, int type) const;
    EntryRef HeldReference(uint32_t offset) const;
    bool LoadOutOfLine(const Field& field, std::vector<uint8_t>& data);

    std::shared_ptr<Table> table_;
    std::shared_ptr<Cursor> cursor_;
    RecordFormat format_;
    uint32_t key_;
    std::vector<uint8_t> bytes_;
    std::vector<std::string> strings_;
    bool listChanged_ = false;
    // Out-of-line values set and not yet committed, by their reference's offset in the record.
    std::map<uint32_t, std::vector<uint8_t>> pending_;
    uint64_t generation_;
    bool editable_;
    bool released_ = false;
};

} // namespace tv::devdb
