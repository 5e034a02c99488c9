#include "package_reader.h"

#include "entry_codec.h"
#include "entry_codes.h"
#include "package_catalog.h"
#include "result_codes.h"
#include "set_container.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace caparchive {
namespace {

// The names of all records, read in one block: name offsets are 16-bit, so the block is at most
// 64 KiB plus the longest name. A name ends at its zero byte or at the end of the file.
int ReadNames(ByteSource& source, const std::vector<DirectoryRecord>& records,
              std::vector<std::string>& names) {
    const uint64_t fileSize = source.Size();
    uint64_t first = UINT64_MAX;
    uint64_t last = 0;
    for (const DirectoryRecord& record : records) {
        if (record.nameOffset >= fileSize)
            return kErrorInvalidData;
        first = std::min<uint64_t>(first, record.nameOffset);
        last = std::max<uint64_t>(last, record.nameOffset);
    }
    names.clear();
    if (records.empty())
        return kSuccess;
    const uint64_t end = std::min<uint64_t>(fileSize, last + kMaxItemNameLength + 1);
    std::vector<uint8_t> block;
    if (const int result = ReadBlock(source, first, end - first, block); result != kSuccess)
        return result;
    names.reserve(records.size());
    // Names of a sound file do not overlap, so together they fit in the block; a file whose records
    // all point at one long name must not make the reader hold that name thousands of times.
    uint64_t totalLength = 0;
    for (const DirectoryRecord& record : records) {
        const auto* start = reinterpret_cast<const char*>(block.data() + (record.nameOffset - first));
        const size_t room = block.size() - (record.nameOffset - first);
        const void* zero = std::memchr(start, 0, room);
        size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - start) : room;
        if (!zero && end < fileSize)
            return kErrorInvalidData;
        totalLength += length;
        if (length > kMaxItemNameLength || totalLength > block.size())
            return kErrorInvalidData;
        names.emplace_back(start, length);
    }
    return kSuccess;
}

// Reads the catalog when the first record is one; `found` tells whether it was.
int ReadCatalog(ByteSource& source, const DirectoryRecord& record, const std::string& name, Catalog& catalog,
                bool& found) {
    found = false;
    if (!name.empty())
        return kSuccess;
    EntryLayout layout;
    if (const int result = ReadEntryLayout(source, record, layout); result != kSuccess)
        return result;
    if (layout.compressed || layout.size < kCatalogMagic.size())
        return kSuccess;
    std::vector<uint8_t> bytes;
    if (const int result = ReadBlock(source, layout.payloadOffset, kCatalogMagic.size(), bytes);
        result != kSuccess)
        return result;
    if (!StartsWithCatalogMagic(bytes))
        return kSuccess;
    found = true;
    if (const int result = ReadBlock(source, layout.payloadOffset, layout.size, bytes); result != kSuccess)
        return result;
    return DecodeCatalog(bytes, catalog);
}

} // namespace

int ReadPackageDirectory(ByteSource& source, PackageDirectory& directory) {
    directory = {};
    if (IsSetContainer(source))
        return ReadSetDirectory(source, directory);
    const uint64_t fileSize = source.Size();
    if (fileSize < kFileHeaderSize)
        return kErrorInvalidData;
    std::vector<uint8_t> bytes;
    if (const int result = ReadBlock(source, 0, kFileHeaderSize, bytes); result != kSuccess)
        return result;
    const FileHeader header = ParseFileHeader(bytes.data());
    if (const int result = CheckFileHeader(header, fileSize); result != kSuccess)
        return result;
    if (const int result =
            ReadBlock(source, kFileHeaderSize, uint64_t{kDirectoryRecordSize} * header.entryCount, bytes);
        result != kSuccess)
        return result;
    std::vector<DirectoryRecord> records(header.entryCount);
    for (size_t i = 0; i < records.size(); ++i)
        records[i] = ParseDirectoryRecord(bytes.data() + i * kDirectoryRecordSize);
    std::vector<std::string> names;
    if (const int result = ReadNames(source, records, names); result != kSuccess)
        return result;

    Catalog catalog;
    bool hasCatalog = false;
    if (!records.empty()) {
        if (const int result = ReadCatalog(source, records[0], names[0], catalog, hasCatalog);
            result != kSuccess)
            return result;
    }
    const size_t firstItem = hasCatalog ? 1 : 0;
    if (hasCatalog && catalog.items.size() != records.size() - 1)
        return kErrorInvalidData;
    directory.option = catalog.option;
    directory.header = std::move(catalog.header);
    directory.items.resize(records.size() - firstItem);
    for (size_t i = 0; i < directory.items.size(); ++i) {
        ItemEntry& item = directory.items[i];
        item.name = std::move(names[firstItem + i]);
        item.record = records[firstItem + i];
        if (hasCatalog) {
            item.kind = catalog.items[i].kind;
            item.storedLong = catalog.items[i].storedLong;
            item.attributes = catalog.items[i].attributes;
        }
    }
    return kSuccess;
}

const ItemEntry* FindItem(const PackageDirectory& directory, std::string_view name, int32_t kind) {
    for (const ItemEntry& item : directory.items)
        if (item.kind == kind && item.name == name)
            return &item;
    return nullptr;
}

int ReadItemLayout(ByteSource& source, const ItemEntry& item, EntryLayout& layout) {
    if (item.setBody) {
        layout = {};
        return kErrorInvalidParameter;
    }
    return ReadEntryLayout(source, item.record, layout);
}

int ReadItemSize(ByteSource& source, const ItemEntry& item, uint64_t& size) {
    size = 0;
    if (item.setBody) {
        size = item.setBody->size;
        return kSuccess;
    }
    EntryLayout layout;
    const int result = ReadEntryLayout(source, item.record, layout);
    size = layout.size;
    return result;
}

int ReadItemData(ByteSource& source, const ItemEntry& item, std::vector<uint8_t>& data) {
    if (item.setBody)
        return ReadSetItemData(source, *item.setBody, data);
    data.clear();
    EntryLayout layout;
    if (const int result = ReadEntryLayout(source, item.record, layout); result != kSuccess)
        return result;
    try {
        data.resize(layout.size);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    if (const int result = ReadEntryData(source, layout, data); result != kSuccess) {
        data.clear();
        return result;
    }
    return kSuccess;
}

int ReadPackage(ByteSource& source, Package& package) {
    package = {};
    PackageDirectory directory;
    if (const int result = ReadPackageDirectory(source, directory); result != kSuccess)
        return result;
    // Bodies of a sound file do not overlap, so all items together decode to no more than the
    // whole file could; more than that is a file whose records share one body, refused before
    // anything is allocated.
    uint64_t totalSize = 0;
    bool set = false;
    for (const ItemEntry& entry : directory.items) {
        uint64_t size = 0;
        if (const int result = ReadItemSize(source, entry, size); result != kSuccess)
            return result;
        totalSize += size;
        set = set || entry.setBody;
    }
    const uint64_t bound =
        set ? MaxSetDataSize(source.Size())
            : MaxExpandedSize(source.Size()) + uint64_t{codes::kMaxMatchLength} * directory.items.size();
    if (totalSize > bound)
        return kErrorInvalidData;
    Package read;
    read.option = directory.option;
    read.header = std::move(directory.header);
    read.items.resize(directory.items.size());
    for (size_t i = 0; i < directory.items.size(); ++i) {
        const ItemEntry& entry = directory.items[i];
        PackageItem& item = read.items[i];
        if (const int result = ReadItemData(source, entry, item.data); result != kSuccess)
            return result;
        item.name = entry.name;
        item.kind = entry.kind;
        item.storedLong = entry.storedLong;
        item.attributes = entry.attributes;
    }
    package = std::move(read);
    return kSuccess;
}

} // namespace caparchive
