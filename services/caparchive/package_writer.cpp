#include "package_writer.h"

#include "big_endian.h"
#include "package_catalog.h"
#include "package_container.h"
#include "package_reader.h"
#include "result_codes.h"

#include <limits>
#include <new>

namespace caparchive {
namespace {

// Layout of the front of the file: header, directory, then the names in record order. The catalog's
// empty name is the first zero byte of the names area.
int BuildFront(const Package& package, const std::vector<std::vector<uint8_t>>& bodies,
               std::vector<uint8_t>& front) {
    const size_t entryCount = bodies.size();
    uint64_t namesSize = 1;
    for (const PackageItem& item : package.items)
        namesSize += item.name.size() + 1;
    const uint64_t namesOffset = kFileHeaderSize + uint64_t{kDirectoryRecordSize} * entryCount;
    uint64_t dataOffset = namesOffset + namesSize;

    front.clear();
    front.reserve(static_cast<size_t>(dataOffset));
    AppendU16(front, kPackageMagic);
    AppendU16(front, static_cast<uint16_t>(entryCount));
    AppendU16(front, 0);
    uint64_t nameOffset = namesOffset;
    for (size_t i = 0; i < entryCount; ++i) {
        const uint64_t nameLength = i == 0 ? 0 : package.items[i - 1].name.size();
        if (nameOffset > std::numeric_limits<uint16_t>::max())
            return kErrorPackageTooLarge;
        if (dataOffset + bodies[i].size() > std::numeric_limits<uint32_t>::max())
            return kErrorPackageTooLarge;
        AppendU16(front, static_cast<uint16_t>(nameOffset));
        AppendU32(front, static_cast<uint32_t>(dataOffset));
        AppendU32(front, static_cast<uint32_t>(bodies[i].size()));
        nameOffset += nameLength + 1;
        dataOffset += bodies[i].size();
    }
    front.push_back(0);
    for (const PackageItem& item : package.items) {
        front.insert(front.end(), item.name.begin(), item.name.end());
        front.push_back(0);
    }
    return kSuccess;
}

} // namespace

int WritePackage(const Package& package, ByteSink& sink) {
    if (package.items.size() >= std::numeric_limits<uint16_t>::max())
        return kErrorPackageTooLarge;
    for (const PackageItem& item : package.items)
        if (item.name.size() > kMaxItemNameLength || item.name.find('\0') != std::string::npos)
            return kErrorInvalidParameter;

    std::vector<std::vector<uint8_t>> bodies;
    std::vector<uint8_t> front;
    try {
        Catalog catalog;
        catalog.option = package.option;
        catalog.header = package.header;
        for (const PackageItem& item : package.items)
            catalog.items.push_back({item.kind, item.storedLong, item.attributes});
        std::vector<uint8_t> catalogBody{kMethodStored};
        const std::vector<uint8_t> catalogBytes = EncodeCatalog(catalog);
        catalogBody.insert(catalogBody.end(), catalogBytes.begin(), catalogBytes.end());
        bodies.push_back(std::move(catalogBody));
        for (const PackageItem& item : package.items) {
            bodies.emplace_back();
            if (const int result = BuildEntryBody(item.data, bodies.back()); result != kSuccess)
                return result;
        }
        if (const int result = BuildFront(package, bodies, front); result != kSuccess)
            return result;
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    if (const int result = sink.Write(front); result != kSuccess)
        return result;
    for (const std::vector<uint8_t>& body : bodies)
        if (const int result = sink.Write(body); result != kSuccess)
            return result;
    return kSuccess;
}

} // namespace caparchive
