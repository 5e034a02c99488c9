// The item identifiers of the device namespace, one level of an identifier list each:
//   u16 cb | "ZVL\0" | u32 flags, type, attr, size, timeLow, timeHigh, iconIndex, iconIndex2 |
//   name\0 | description\0
// cb counts itself and is 40 + the lengths of the two texts. Numbers are little-endian. This
// code reads and writes the bytes only; the Windows side hands them to the shell.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv::shellns {

inline constexpr size_t kItemNameOffset = 38;
inline constexpr size_t kItemFixedSize = 40;  // header and both terminators
inline constexpr size_t kItemMaxSize = 0xFFFF;

// Shell attribute bits the identifier's flags word is made of.
inline constexpr uint32_t kAttrCanDelete = 0x20;
inline constexpr uint32_t kAttrCanRename = 0x10;
inline constexpr uint32_t kAttrFolder = 0x20000000;
inline constexpr uint32_t kAttrHasSubfolder = 0x80000000;

// Item types and attribute bits of the device listings.
inline constexpr uint32_t kTypeDevice = 1;
inline constexpr uint32_t kTypeVolume = 2;
inline constexpr uint32_t kTypeFolder = 4;
inline constexpr uint32_t kTypeFile = 8;
inline constexpr uint32_t kContainerTypes = 7;
inline constexpr uint32_t kItemHidden = 1;
inline constexpr uint32_t kItemProtected = 8;

struct ItemRecord {
    uint32_t flags = 0;
    uint32_t type = 0;
    uint32_t attr = 0;
    uint32_t size = 0;
    uint32_t timeLow = 0;
    uint32_t timeHigh = 0;
    uint32_t iconIndex = 0;
    uint32_t iconIndex2 = 0;
    std::string name;
    std::string description;

    bool IsContainer() const { return (type & kContainerTypes) != 0; }
};

// The flags word of an item from the listing's hint and type.
uint32_t ItemFlags(long hint, long type);

// The bytes of one level (cb first, no list terminator); empty when the texts do not fit a level.
std::vector<uint8_t> EncodeItem(const ItemRecord& record);

// Whether a level starts with our signature (cb above 5 and "ZVL\0"); says nothing of its texts.
bool HasItemSignature(const uint8_t* level, size_t cb);

// Reads one level of `cb` bytes; false unless cb holds the header and both texts with their
// terminators exactly (a stale or truncated identifier is refused).
bool DecodeItem(const uint8_t* level, size_t cb, ItemRecord* record);

// Reads the 16-bit size at the start of a level.
inline size_t LevelSize(const uint8_t* level) { return static_cast<size_t>(level[0] | (level[1] << 8)); }

// The device path of a list (names joined by "\"): the walk stops at the terminator or at the
// first level that is not ours. False when one of our levels is malformed. `limit` bounds the
// bytes read (the whole list when the caller knows its size, SIZE_MAX otherwise).
bool ListToPath(const uint8_t* list, size_t limit, std::string* path);

// The records of the levels of a list, under the same rules as ListToPath.
bool DecodeList(const uint8_t* list, size_t limit, std::vector<ItemRecord>* records);

} // namespace tv::shellns
