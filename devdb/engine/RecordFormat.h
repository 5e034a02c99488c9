// The record format of a table: its fields in order, the layout computed from them, and the
// format block of a table file that stores them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tv::devdb {

// Field types as the interfaces number them.
enum FieldType : int {
    kTypeReference = 1,
    kTypeBool = 2,
    kTypeByte = 3,
    kTypeWord = 4,
    kTypeDword = 5,
    kTypeFixedText = 6,
    kTypeFixedBinary = 7,
    kTypeText = 8,
    kTypeBinary = 9,
    kTypeListText = 10,
};

constexpr size_t kMaxNameLength = 31;
// The largest record a table file can hold: a slot (header and record) after the file's header
// must end below 4 GiB.
constexpr uint64_t kMaxRecordSize = 0xFFFFFFFFull - 48 - 6;

struct Field {
    std::string name;
    uint32_t parameter = 0; // the referenced table's id for a reference field
    uint16_t code = 0;      // high byte: kind; low byte: bytes in the fixed part
    uint32_t offset = 0;    // in the record (types 1-9)
    int listSlot = -1;      // string-list slot (type 10)

    int Type() const;
    uint8_t Kind() const { return static_cast<uint8_t>(code >> 8); }
    uint32_t FixedSize() const { return code & 0xFFu; }
    bool OutOfLine() const {
        int t = Type();
        return t == kTypeText || t == kTypeBinary;
    }
};

class RecordFormat {
  public:
    size_t FieldCount() const { return fields_.size(); }
    const Field* FieldAt(size_t index) const { return index < fields_.size() ? &fields_[index] : nullptr; }
    const std::vector<Field>& Fields() const { return fields_; }
    // Index of the field with exactly this name, -1 when none.
    int Find(const std::string& name) const;

    // Adds a field of type 1..10 (size used by types 6 and 7, 1..255); the name is cut to 31. A
    // field that would make the record larger than kMaxRecordSize is refused.
    bool AddField(const std::string& name, int type, int size);
    bool AddReferenceField(const std::string& name, uint32_t tableId);
    bool RemoveField(size_t index);

    uint32_t FixedSize() const { return fixedSize_; }
    uint32_t RecordSize() const { return recordSize_; }
    bool HasStringList() const { return listCount_ > 0; }
    uint32_t ListReferenceOffset() const { return fixedSize_; }
    int ListCount() const { return listCount_; }

    // The format block: field count, then per field name length, name, parameter, type code.
    std::vector<uint8_t> Serialize() const;
    // Reads a format block from `data` (at most `size` bytes); false when it is malformed, runs
    // past the end or describes a record larger than kMaxRecordSize. `used` is the block's length.
    bool Parse(const uint8_t* data, uint64_t size, uint64_t& used);

    static uint16_t CodeOfType(int type, int size);
    static int TypeOfCode(uint16_t code);

  private:
    // Lays the fields out; false (and nothing changed) when the record would be too large.
    bool ComputeLayout();

    std::vector<Field> fields_;
    uint32_t fixedSize_ = 0;
    uint32_t recordSize_ = 0;
    int listCount_ = 0;
};

} // namespace tv::devdb
