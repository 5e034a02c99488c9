#include "package_catalog.h"

#include "big_endian.h"
#include "result_codes.h"

#include <bit>
#include <cstring>

namespace caparchive {
namespace {

constexpr uint8_t kFlagHeader = 0x01;

void AppendText(std::vector<uint8_t>& out, const std::string& text) {
    AppendU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// Reads fields front to back, refusing to run past the end.
class FieldReader {
  public:
    explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool Take(size_t count, const uint8_t*& field) {
        if (count > bytes_.size() - position_)
            return false;
        field = bytes_.data() + position_;
        position_ += count;
        return true;
    }
    bool U8(uint8_t& value) {
        const uint8_t* p;
        return Take(1, p) && ((value = *p), true);
    }
    bool U16(uint16_t& value) {
        const uint8_t* p;
        return Take(2, p) && ((value = LoadU16(p)), true);
    }
    bool U32(uint32_t& value) {
        const uint8_t* p;
        return Take(4, p) && ((value = LoadU32(p)), true);
    }
    bool I32(int32_t& value) {
        uint32_t raw;
        return U32(raw) && ((value = static_cast<int32_t>(raw)), true);
    }
    bool U64(uint64_t& value) {
        const uint8_t* p;
        return Take(8, p) && ((value = LoadU64(p)), true);
    }
    bool Text(std::string& text) {
        uint32_t length;
        const uint8_t* p;
        if (!U32(length) || !Take(length, p))
            return false;
        text.assign(reinterpret_cast<const char*>(p), length);
        return true;
    }
    bool AtEnd() const { return position_ == bytes_.size(); }

  private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

} // namespace

bool StartsWithCatalogMagic(std::span<const uint8_t> bytes) {
    return bytes.size() >= kCatalogMagic.size() &&
           std::memcmp(bytes.data(), kCatalogMagic.data(), kCatalogMagic.size()) == 0;
}

std::vector<uint8_t> EncodeCatalog(const Catalog& catalog) {
    std::vector<uint8_t> out(kCatalogMagic.begin(), kCatalogMagic.end());
    AppendU16(out, kCatalogVersion);
    AppendU32(out, static_cast<uint32_t>(catalog.option));
    out.push_back(catalog.header ? kFlagHeader : 0);
    if (catalog.header) {
        AppendU64(out, std::bit_cast<uint64_t>(catalog.header->date));
        AppendText(out, catalog.header->title);
        AppendText(out, catalog.header->description);
        AppendText(out, catalog.header->iconName);
    }
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
    uint8_t flags;
    if (!reader.Take(kCatalogMagic.size(), magic) || !StartsWithCatalogMagic(bytes) || !reader.U16(version) ||
        version != kCatalogVersion || !reader.I32(catalog.option) || !reader.U8(flags) ||
        (flags & ~kFlagHeader) != 0)
        return kErrorInvalidData;
    if (flags & kFlagHeader) {
        PackageHeader& header = catalog.header.emplace();
        uint64_t dateBits;
        if (!reader.U64(dateBits) || !reader.Text(header.title) || !reader.Text(header.description) ||
            !reader.Text(header.iconName))
            return kErrorInvalidData;
        header.date = std::bit_cast<double>(dateBits);
    }
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
