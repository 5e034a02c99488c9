#include "package_catalog.h"

#include "big_endian.h"
#include "field_reader.h"
#include "result_codes.h"

#include <bit>
#include <cstring>

namespace caparchive {
namespace {

constexpr uint8_t kFlagHeader = 0x01;

} // namespace

void AppendPackageHeader(std::vector<uint8_t>& out, const std::optional<PackageHeader>& header) {
    out.push_back(header ? kFlagHeader : 0);
    if (header) {
        AppendU64(out, std::bit_cast<uint64_t>(header->date));
        AppendText(out, header->title);
        AppendText(out, header->description);
        AppendText(out, header->iconName);
    }
}

bool ReadPackageHeader(FieldReader& reader, std::optional<PackageHeader>& header) {
    header.reset();
    uint8_t flags;
    if (!reader.U8(flags) || (flags & ~kFlagHeader) != 0)
        return false;
    if (!(flags & kFlagHeader))
        return true;
    PackageHeader& read = header.emplace();
    uint64_t dateBits;
    if (!reader.U64(dateBits) || !reader.Text(read.title) || !reader.Text(read.description) ||
        !reader.Text(read.iconName))
        return false;
    read.date = std::bit_cast<double>(dateBits);
    return true;
}

bool StartsWithCatalogMagic(std::span<const uint8_t> bytes) {
    return bytes.size() >= kCatalogMagic.size() &&
           std::memcmp(bytes.data(), kCatalogMagic.data(), kCatalogMagic.size()) == 0;
}

std::vector<uint8_t> EncodeCatalog(const Catalog& catalog) {
    std::vector<uint8_t> out(kCatalogMagic.begin(), kCatalogMagic.end());
    AppendU16(out, kCatalogVersion);
    AppendU32(out, static_cast<uint32_t>(catalog.option));
    AppendPackageHeader(out, catalog.header);
    AppendU16(out, static_cast<uint16_t>(catalog.items.size()));
    for (const ItemProperties& item : catalog.items) {
        AppendU32(out, static_cast<uint32_t>(item.kind));
        AppendU32(out, static_cast<uint32_t>(item.storedLong));
        AppendU32(out, item.attributes);
    }
    return out;
}

int DecodeCatalog(std::span<const uint8_t> bytes, Catalog& catalog) {
    catalog = {};
    FieldReader reader(bytes);
    const uint8_t* magic;
    uint16_t version;
    if (!reader.Take(kCatalogMagic.size(), magic) || !StartsWithCatalogMagic(bytes) || !reader.U16(version) ||
        version != kCatalogVersion || !reader.I32(catalog.option) ||
        !ReadPackageHeader(reader, catalog.header))
        return kErrorInvalidData;
    uint16_t count;
    if (!reader.U16(count))
        return kErrorInvalidData;
    catalog.items.resize(count);
    for (ItemProperties& item : catalog.items)
        if (!reader.I32(item.kind) || !reader.I32(item.storedLong) || !reader.U32(item.attributes))
            return kErrorInvalidData;
    return reader.AtEnd() ? kSuccess : kErrorInvalidData;
}

} // namespace caparchive
