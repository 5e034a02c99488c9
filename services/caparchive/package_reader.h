// Reads package files written by the archive (see package_catalog.h for the layout) and plain
// containers. Listing a package reads only the file header, the directory, the names and the
// catalog; item bodies are read one at a time on demand.
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

struct ItemEntry {
    std::string name;
    int32_t kind = kItemKindFile;
    int32_t storedLong = 0;
    uint32_t attributes = 0;
    DirectoryRecord record;
};

struct PackageDirectory {
    int32_t option = 0;
    std::optional<PackageHeader> header;
    std::vector<ItemEntry> items;
};

int ReadPackageDirectory(ByteSource& source, PackageDirectory& directory);

// The first item of that name and kind, or nullptr.
const ItemEntry* FindItem(const PackageDirectory& directory, std::string_view name, int32_t kind);

// Where the item's bytes are, and its size.
int ReadItemLayout(ByteSource& source, const ItemEntry& item, EntryLayout& layout);

int ReadItemData(ByteSource& source, const ItemEntry& item, std::vector<uint8_t>& data);

// The whole package, every item's data included.
int ReadPackage(ByteSource& source, Package& package);

} // namespace caparchive
