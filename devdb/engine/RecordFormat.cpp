#include "RecordFormat.h"
#include "ByteOrder.h"

namespace tv::devdb {

namespace {

struct KindInfo {
    int type;
    uint8_t kind;
    int fixedSize; // -1: chosen per field (1..255)
};

constexpr KindInfo kKinds[] = {
    {kTypeReference, 0x05, 4}, {kTypeBool, 0x01, 1},       {kTypeByte, 0x02, 1},         {kTypeWord, 0x03, 2},
    {kTypeDword, 0x04, 4},     {kTypeFixedText, 0x0B, -1}, {kTypeFixedBinary, 0x0C, -1}, {kTypeText, 0x10, 8},
    {kTypeBinary, 0x20, 8},    {kTypeListText, 0x30, 0},
};

// A format never has more fields than fit in a file below 4 GiB at seven bytes each.
constexpr uint64_t kMaxFields = 0xFFFFFFFFu / 7;

} // namespace

int Field::Type() const {
    return RecordFormat::TypeOfCode(code);
}

uint16_t RecordFormat::CodeOfType(int type, int size) {
    for (const KindInfo& info : kKinds) {
        if (info.type != type)
            continue;
        if (info.fixedSize >= 0)
            return static_cast<uint16_t>(info.kind << 8 | info.fixedSize);
        if (size < 1 || size > 255)
            return 0;
        return static_cast<uint16_t>(info.kind << 8 | size);
    }
    return 0;
}

int RecordFormat::TypeOfCode(uint16_t code) {
    const uint8_t kind = static_cast<uint8_t>(code >> 8);
    const int size = code & 0xFF;
    for (const KindInfo& info : kKinds) {
        if (info.kind != kind)
            continue;
        if (info.fixedSize >= 0 ? size == info.fixedSize : size >= 1)
            return info.type;
        return 0;
    }
    return 0;
}

int RecordFormat::Find(const std::string& name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == name)
            return static_cast<int>(i);
    return -1;
}

bool RecordFormat::AddField(const std::string& name, int type, int size) {
    const uint16_t code = CodeOfType(type, size);
    if (code == 0)
        return false;
    Field field;
    field.name = name.substr(0, kMaxNameLength);
    field.code = code;
    fields_.push_back(field);
    if (!ComputeLayout()) {
        fields_.pop_back();
        return false;
    }
    return true;
}

bool RecordFormat::AddReferenceField(const std::string& name, uint32_t tableId) {
    if (!AddField(name, kTypeReference, 0))
        return false;
    fields_.back().parameter = tableId;
    return true;
}

bool RecordFormat::RemoveField(size_t index) {
    if (index >= fields_.size())
        return false;
    fields_.erase(fields_.begin() + static_cast<std::ptrdiff_t>(index));
    ComputeLayout(); // fewer fields always fit
    return true;
}

namespace {

// A record's size summed in 64 bits, so that no number of fields can wrap it.
struct RecordSizeSum {
    uint64_t fixed = 0;
    bool list = false;

    void Add(uint16_t code) {
        if (RecordFormat::TypeOfCode(code) == kTypeListText)
            list = true;
        else
            fixed += code & 0xFFu;
    }
    uint64_t Total() const { return fixed + (list ? 8 : 0); }
};

} // namespace

bool RecordFormat::ComputeLayout() {
    RecordSizeSum sum;
    for (const Field& field : fields_)
        sum.Add(field.code);
    if (sum.Total() > kMaxRecordSize)
        return false;
    uint32_t offset = 0;
    int slot = 0;
    for (Field& field : fields_) {
        if (field.Type() == kTypeListText) {
            field.offset = 0;
            field.listSlot = slot++;
        } else {
            field.offset = offset;
            field.listSlot = -1;
            offset += field.FixedSize();
        }
    }
    fixedSize_ = offset;
    listCount_ = slot;
    recordSize_ = fixedSize_ + (listCount_ > 0 ? 8 : 0);
    return true;
}

std::vector<uint8_t> RecordFormat::Serialize() const {
    std::vector<uint8_t> block(4);
    StoreBe32(block.data(), static_cast<uint32_t>(fields_.size()));
    for (const Field& field : fields_) {
        const size_t n = field.name.size() < kMaxNameLength ? field.name.size() : kMaxNameLength;
        block.push_back(static_cast<uint8_t>(n));
        block.insert(block.end(), field.name.begin(), field.name.begin() + static_cast<std::ptrdiff_t>(n));
        uint8_t tail[6];
        StoreBe32(tail, field.parameter);
        StoreBe16(tail + 4, field.code);
        block.insert(block.end(), tail, tail + 6);
    }
    return block;
}

namespace {

// Walks the `count` fields of a format block, calling `visit`(offset of the name, its length) for
// each; false when the block runs past `size` or a type code is unknown. `end` is the block's end.
template <class Visit>
bool WalkFormatBlock(const uint8_t* data, uint64_t size, uint64_t count, uint64_t& end, Visit visit) {
    uint64_t pos = 4;
    for (uint64_t i = 0; i < count; ++i) {
        if (pos + 1 > size)
            return false;
        const uint64_t n = data[pos++];
        if (n > size - pos || 6 > size - pos - n)
            return false;
        if (RecordFormat::TypeOfCode(LoadBe16(data + pos + n + 4)) == 0)
            return false;
        visit(pos, n);
        pos += n + 6;
    }
    end = pos;
    return true;
}

} // namespace

bool RecordFormat::Parse(const uint8_t* data, uint64_t size, uint64_t& used) {
    fields_.clear();
    if (size < 4)
        return false;
    const uint64_t count = LoadBe32(data);
    if (count > kMaxFields || count * 7 > size - 4)
        return false;
    // The sizes are added up before any field is made: a block describing a record too large for
    // any file is refused without holding its fields.
    RecordSizeSum sum;
    uint64_t end = 0;
    if (!WalkFormatBlock(data, size, count, end,
                         [&](uint64_t pos, uint64_t n) { sum.Add(LoadBe16(data + pos + n + 4)); }) ||
        sum.Total() > kMaxRecordSize)
        return false;
    std::vector<Field> fields;
    fields.reserve(static_cast<size_t>(count));
    WalkFormatBlock(data, size, count, end, [&](uint64_t pos, uint64_t n) {
        Field field;
        // A longer name in a file is read as its first 31 bytes.
        field.name.assign(reinterpret_cast<const char*>(data + pos), n < kMaxNameLength ? n : kMaxNameLength);
        field.parameter = LoadBe32(data + pos + n);
        field.code = LoadBe16(data + pos + n + 4);
        fields.push_back(std::move(field));
    });
    fields_ = std::move(fields);
    ComputeLayout();
    used = end;
    return true;
}

} // namespace tv::devdb
