#include "ItemId.h"
#include <cstring>

namespace tv::shellns {
namespace {

constexpr char kSignature[4] = {'Z', 'V', 'L', '\0'};

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// Walks a list and hands each of our levels to `visit`; false on a malformed level.
template <class Visit>
bool WalkList(const uint8_t* list, size_t limit, Visit visit) {
    if (!list)
        return false;
    size_t offset = 0;
    for (;;) {
        if (limit - offset < 2)
            return false;
        const uint8_t* level = list + offset;
        size_t cb = LevelSize(level);
        if (cb == 0)
            return true;
        if (cb > limit - offset)
            return false;
        if (!HasItemSignature(level, cb))
            return true;
        ItemRecord record;
        if (!DecodeItem(level, cb, &record))
            return false;
        visit(std::move(record));
        offset += cb;
    }
}

} // namespace

uint32_t ItemFlags(long hint, long type) {
    uint32_t flags = 0;
    if (hint & 2)
        flags |= kAttrCanDelete;
    if (hint & 4)
        flags |= kAttrCanRename;
    if (type & kContainerTypes) {
        flags |= kAttrFolder;
        if (hint & 1)
            flags |= kAttrHasSubfolder;
    }
    return flags;
}

std::vector<uint8_t> EncodeItem(const ItemRecord& record) {
    const size_t cb = kItemFixedSize + record.name.size() + record.description.size();
    if (cb > kItemMaxSize || record.name.find('\0') != std::string::npos ||
        record.description.find('\0') != std::string::npos)
        return {};
    std::vector<uint8_t> out(cb, 0);
    out[0] = static_cast<uint8_t>(cb & 0xFF);
    out[1] = static_cast<uint8_t>(cb >> 8);
    std::memcpy(&out[2], kSignature, sizeof(kSignature));
    const uint32_t numbers[] = {record.flags,    record.type,     record.attr,      record.size,
                                record.timeLow, record.timeHigh, record.iconIndex, record.iconIndex2};
    size_t at = 6;
    for (uint32_t number : numbers) {
        PutU32(out, at, number);
        at += 4;
    }
    std::memcpy(&out[kItemNameOffset], record.name.data(), record.name.size());
    std::memcpy(&out[kItemNameOffset + record.name.size() + 1], record.description.data(),
                record.description.size());
    return out;
}

bool HasItemSignature(const uint8_t* level, size_t cb) {
    return level && cb > 5 && std::memcmp(level + 2, kSignature, sizeof(kSignature)) == 0;
}

bool DecodeItem(const uint8_t* level, size_t cb, ItemRecord* record) {
    if (!HasItemSignature(level, cb) || cb < kItemFixedSize || LevelSize(level) != cb)
        return false;
    const char* text = reinterpret_cast<const char*>(level) + kItemNameOffset;
    const size_t room = cb - kItemNameOffset;
    const size_t nameLength = strnlen(text, room);
    if (nameLength >= room)
        return false;
    const size_t descriptionRoom = room - nameLength - 1;
    const size_t descriptionLength = strnlen(text + nameLength + 1, descriptionRoom);
    // The size must be exactly what the two texts need: anything else is a stale layout.
    if (descriptionLength >= descriptionRoom || descriptionLength + 1 != descriptionRoom)
        return false;
    if (record) {
        uint32_t* numbers[] = {&record->flags,    &record->type,     &record->attr,      &record->size,
                               &record->timeLow, &record->timeHigh, &record->iconIndex, &record->iconIndex2};
        size_t at = 6;
        for (uint32_t* number : numbers) {
            *number = GetU32(level + at);
            at += 4;
        }
        record->name.assign(text, nameLength);
        record->description.assign(text + nameLength + 1, descriptionLength);
    }
    return true;
}

bool ListToPath(const uint8_t* list, size_t limit, std::string* path) {
    std::string result;
    bool ok = WalkList(list, limit, [&result](ItemRecord record) {
        if (!result.empty())
            result += '\\';
        result += record.name;
    });
    if (ok && path)
        *path = std::move(result);
    return ok;
}

bool DecodeList(const uint8_t* list, size_t limit, std::vector<ItemRecord>* records) {
    std::vector<ItemRecord> result;
    bool ok = WalkList(list, limit, [&result](ItemRecord record) { result.push_back(std::move(record)); });
    if (ok && records)
        *records = std::move(result);
    return ok;
}

} // namespace tv::shellns
