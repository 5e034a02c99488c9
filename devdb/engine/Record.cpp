#include "Record.h"
#include "ByteOrder.h"
#include "Cursor.h"
#include <algorithm>
#include <cstring>

namespace tv::devdb {

Record::Record(std::shared_ptr<Table> table, std::shared_ptr<Cursor> cursor, uint32_t key, SlotRecord content,
               uint64_t generation, bool editable)
    : table_(std::move(table)), cursor_(std::move(cursor)), format_(table_->Format()), key_(key),
      bytes_(std::move(content.bytes)), strings_(std::move(content.strings)), generation_(generation),
      editable_(editable) {
    bytes_.resize(format_.RecordSize(), 0);
}

const Field* Record::FieldOf(size_t index, int type) const {
    const Field* field = format_.FieldAt(index);
    if (!field || field->Kind() != static_cast<uint8_t>(RecordFormat::CodeOfType(type, 1) >> 8))
        return nullptr;
    return field;
}

bool Record::GetNumber(size_t index, int type, uint32_t& value) const {
    value = 0;
    const Field* field = type >= kTypeReference && type <= kTypeDword ? FieldOf(index, type) : nullptr;
    if (!field)
        return false;
    const uint8_t* p = bytes_.data() + field->offset;
    switch (field->FixedSize()) {
    case 1:
        value = p[0];
        break;
    case 2:
        value = LoadBe16(p);
        break;
    default:
        value = LoadBe32(p);
        break;
    }
    return true;
}

bool Record::SetNumber(size_t index, int type, uint32_t value) {
    const Field* field = type >= kTypeReference && type <= kTypeDword ? FieldOf(index, type) : nullptr;
    if (!editable_ || released_ || !field)
        return false;
    uint8_t* p = bytes_.data() + field->offset;
    switch (field->FixedSize()) {
    case 1:
        p[0] = static_cast<uint8_t>(value);
        break;
    case 2:
        StoreBe16(p, static_cast<uint16_t>(value));
        break;
    default:
        StoreBe32(p, value);
        break;
    }
    return true;
}

EntryRef Record::HeldReference(uint32_t offset) const {
    const uint8_t* p = bytes_.data() + offset;
    return {LoadBe32(p), LoadBe32(p + 4)};
}

bool Record::LoadOutOfLine(const Field& field, std::vector<uint8_t>& data) {
    auto setAnew = pending_.find(field.offset);
    if (setAnew != pending_.end()) {
        data = setAnew->second;
        return true;
    }
    // A compaction (here or in another process) since the record was read moved the entries:
    // the references are read again before use.
    if (key_ != 0 && generation_ != table_->Generation()) {
        std::vector<uint8_t> current;
        uint64_t generation = 0;
        if (!table_->ReadReferences(key_, current, generation))
            return false;
        for (uint32_t offset : OutOfLineRefOffsets(format_))
            std::memcpy(bytes_.data() + offset, current.data() + offset, 8);
        generation_ = generation;
    }
    return table_->ReadEntry(HeldReference(field.offset), data);
}

bool Record::GetText(size_t index, std::string& text) {
    text.clear();
    const Field* field = format_.FieldAt(index);
    if (!field)
        return false;
    switch (field->Type()) {
    case kTypeFixedText: {
        const char* p = reinterpret_cast<const char*>(bytes_.data() + field->offset);
        text.assign(p, strnlen(p, field->FixedSize()));
        return true;
    }
    case kTypeText: {
        std::vector<uint8_t> data;
        if (!LoadOutOfLine(*field, data))
            return false;
        const auto end = std::find(data.begin(), data.end(), uint8_t{0});
        text.assign(data.begin(), end);
        return true;
    }
    case kTypeListText:
        if (static_cast<size_t>(field->listSlot) < strings_.size())
            text = strings_[static_cast<size_t>(field->listSlot)];
        return true;
    default:
        return false;
    }
}

bool Record::SetText(size_t index, std::string_view text) {
    const Field* field = format_.FieldAt(index);
    if (!editable_ || released_ || !field)
        return false;
    switch (field->Type()) {
    case kTypeFixedText: {
        uint8_t* p = bytes_.data() + field->offset;
        std::memset(p, 0, field->FixedSize());
        std::memcpy(p, text.data(), std::min<size_t>(text.size(), field->FixedSize()));
        return true;
    }
    case kTypeText:
        if (text.size() > kMaxEntryLength)
            return false;
        pending_[field->offset].assign(text.begin(), text.end());
        return true;
    case kTypeListText: {
        const size_t slot = static_cast<size_t>(field->listSlot);
        if (strings_.size() <= slot)
            strings_.resize(slot + 1);
        strings_[slot] = text;
        listChanged_ = true;
        return true;
    }
    default:
        return false;
    }
}

uint32_t Record::FieldSize(size_t index) {
    const Field* field = format_.FieldAt(index);
    if (!field)
        return 0;
    switch (field->Type()) {
    case kTypeText:
    case kTypeBinary: {
        auto setAnew = pending_.find(field->offset);
        if (setAnew != pending_.end())
            return static_cast<uint32_t>(setAnew->second.size());
        return HeldReference(field->offset).length;
    }
    case kTypeListText:
        return static_cast<size_t>(field->listSlot) < strings_.size()
                   ? static_cast<uint32_t>(strings_[static_cast<size_t>(field->listSlot)].size())
                   : 0;
    default:
        return field->FixedSize();
    }
}

bool Record::Commit() {
    if (!editable_ || released_)
        return false;
    std::vector<uint8_t> list;
    if (listChanged_)
        list = EncodeStringList(strings_);
    uint32_t key = key_;
    const bool committed = table_->Commit(key, bytes_, pending_, listChanged_ ? &list : nullptr);
    // A new record that reached the file keeps its key even when the flush failed: committing it
    // again rewrites it instead of adding it twice.
    key_ = key;
    if (!committed)
        return false;
    pending_.clear();
    listChanged_ = false;
    generation_ = table_->Generation();
    return true;
}

bool Record::Release() {
    if (released_)
        return false;
    released_ = true;
    if (editable_ && key_ != 0)
        table_->EndEditing(key_);
    if (cursor_)
        cursor_->RecordReleased();
    return true;
}

} // namespace tv::devdb
