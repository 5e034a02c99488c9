// The catalog: what a package holds beyond the container's names and bodies.
//
// A package file written by the archive is an ordinary container whose first directory record is
// the catalog and whose other records are the items, in order, each named by the item's name. The
// catalog record has an empty name (which no lookup by name can find) and a stored body:
//
//   4 bytes  "ZvPk"
//   u16      catalog version, 1
//   i32      package option (1 for backup sets)
//   u8       flags: bit 0 set when a header is attached (other bits 0)
//   header, when attached:
//     u64    date, the bits of an IEEE-754 double (an automation date)
//     title, description, icon item name: each a u32 byte count and the bytes
//   u16      item count, one less than the container's entry count
//   per item, in directory order: i32 kind (2 file, 3 script), i32 stored long, u32 attributes
//
// All integers are big-endian like the rest of the file. The catalog comes first and is never
// compressed, so that listing a package reads only the front of the file. A container whose first
// record is not a catalog (for example a package built elsewhere) is read as option 0, no header,
// and items of kind 2 with stored long and attributes 0.
#pragma once

#include "package.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace caparchive {

inline constexpr std::string_view kCatalogMagic = "ZvPk";
inline constexpr uint16_t kCatalogVersion = 1;

struct ItemProperties {
    int32_t kind = kItemKindFile;
    int32_t storedLong = 0;
    uint32_t attributes = 0;
};

struct Catalog {
    int32_t option = 0;
    std::optional<PackageHeader> header;
    std::vector<ItemProperties> items;
};

class FieldReader;

// The optional header as the catalog and the backup set directory keep it: a flag byte (bit 0 set
// when a header is attached), then the date bits and the three texts.
void AppendPackageHeader(std::vector<uint8_t>& out, const std::optional<PackageHeader>& header);
bool ReadPackageHeader(FieldReader& reader, std::optional<PackageHeader>& header);

std::vector<uint8_t> EncodeCatalog(const Catalog& catalog);

// kErrorInvalidData when the bytes are not a whole, well-formed catalog.
int DecodeCatalog(std::span<const uint8_t> bytes, Catalog& catalog);

bool StartsWithCatalogMagic(std::span<const uint8_t> bytes);

} // namespace caparchive
