// Reads package files written by the archive (see package_catalog.h for the layout), plain
// containers and backup set containers (set_container.h). Listing a package reads only the file
// header, the directory, the names and the catalog (or a set's directory); item bodies are read
// one at a time on demand.
#pragma once

#include "byte_io.h"
#include "package.h"
#include "package_container.h"

#include <optional>
#include <string_view>
#include <vector>

namespace caparchive {

// The longest item name the archive reads or writes, in bytes.
inline constexpr uint32_t kMaxItemNameLength = 4096;

// Where an item of a backup set container keeps its data.
struct SetBody {
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t size = 0; // the data's size
};

struct ItemEntry {
    std::string name;
    int32_t kind = kItemKindFile;
    int32_t storedLong = 0;
    uint32_t attributes = 0;
    DirectoryRecord record;         // an item of a package file
    std::optional<SetBody> setBody; // an item of a backup set container
};

struct PackageDirectory {
    int32_t option = 0;
    std::optional<PackageHeader> header;
    std::vector<ItemEntry> items;
};

int ReadPackageDirectory(ByteSource& source, PackageDirectory& directory);

// The first item of that name and kind, or nullptr.
const ItemEntry* FindItem(const PackageDirectory& directory, std::string_view name, int32_t kind);

// Where the item's bytes are, and its size (items of package files only).
int ReadItemLayout(ByteSource& source, const ItemEntry& item, EntryLayout& layout);

// The size of the item's data.
int ReadItemSize(ByteSource& source, const ItemEntry& item, uint64_t& size);

int ReadItemData(ByteSource& source, const ItemEntry& item, std::vector<uint8_t>& data);

// The whole package, every item's data included.
int ReadPackage(ByteSource& source, Package& package);

} // namespace caparchive
