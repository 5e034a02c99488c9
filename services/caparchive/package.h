// A package as the archive component sees it: an optional header and an ordered list of items.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace caparchive {

inline constexpr int32_t kItemKindFile = 2;
inline constexpr int32_t kItemKindScript = 3;
// The package option of backup sets, which are written in a container of their own
// (set_container.h); other packages are package files.
inline constexpr int32_t kBackupSetOption = 1;

struct PackageHeader {
    double date = 0; // an automation date (days since 30 December 1899)
    std::string title;
    std::string description;
    std::string iconName; // name of the item that holds the package's icon
};

struct PackageItem {
    std::string name; // 8-bit, no zero byte
    int32_t kind = kItemKindFile;
    int32_t storedLong = 0; // a backup time or an item-store version
    uint32_t attributes = 0;
    std::vector<uint8_t> data;
};

struct Package {
    int32_t option = 0; // 1 for backup sets
    std::optional<PackageHeader> header;
    std::vector<PackageItem> items;
};

} // namespace caparchive
