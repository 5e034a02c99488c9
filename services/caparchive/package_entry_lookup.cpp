#include "package_entry_lookup.h"

#include "result_codes.h"

#include <cstring>
#include <new>
#include <vector>

namespace caparchive {
namespace {

// A name runs to its zero byte or to the end of the file.
std::string_view NameAt(std::span<const uint8_t> image, uint16_t offset) {
    const auto* start = reinterpret_cast<const char*>(image.data() + offset);
    const size_t room = image.size() - offset;
    const void* zero = std::memchr(start, 0, room);
    return {start, zero ? static_cast<size_t>(static_cast<const char*>(zero) - start) : room};
}

int LoadImage(const std::string& fileName, std::vector<uint8_t>& image) {
    FileSource source;
    if (const int result = source.Open(fileName); result != kSuccess)
        return result;
    if (source.Size() < kFileHeaderSize)
        return kErrorInvalidData;
    try {
        image.resize(static_cast<size_t>(source.Size()));
    } catch (const std::exception&) {
        return kErrorNotEnoughMemory;
    }
    return source.ReadAt(0, image);
}

// Looks the entry up in the file and reads it into `data`.
int ReadEntry(const std::string& fileName, std::string_view entryName, std::vector<uint8_t>& data) {
    std::vector<uint8_t> image;
    if (const int result = LoadImage(fileName, image); result != kSuccess)
        return result;
    EntryLayout layout;
    if (const int result = FindPackageEntry(image, entryName, layout); result != kSuccess)
        return result;
    try {
        data.resize(layout.size);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    MemorySource source(image);
    return ReadEntryData(source, layout, data);
}

} // namespace

int FindPackageEntry(std::span<const uint8_t> image, std::string_view entryName, EntryLayout& layout) {
    if (entryName.empty())
        return kErrorInvalidParameter;
    if (image.size() < kFileHeaderSize)
        return kErrorInvalidData;
    const FileHeader header = ParseFileHeader(image.data());
    if (const int result = CheckFileHeader(header, image.size()); result != kSuccess)
        return result;
    MemorySource source(image);
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        const DirectoryRecord record =
            ParseDirectoryRecord(image.data() + kFileHeaderSize + i * kDirectoryRecordSize);
        if (record.nameOffset >= image.size())
            return kErrorInvalidData;
        if (NameAt(image, record.nameOffset) != entryName)
            continue;
        return ReadEntryLayout(source, record, layout);
    }
    return kErrorNotFound;
}

int GetPackageEntrySize(const std::string& fileName, std::string_view entryName, uint32_t& size) {
    size = 0;
    if (entryName.empty())
        return kErrorInvalidParameter;
    std::vector<uint8_t> image;
    if (const int result = LoadImage(fileName, image); result != kSuccess)
        return result;
    EntryLayout layout;
    if (const int result = FindPackageEntry(image, entryName, layout); result != kSuccess)
        return result;
    size = layout.size;
    return kSuccess;
}

int ReadPackageEntry(const std::string& fileName, std::string_view entryName, std::span<uint8_t> buffer,
                     uint32_t& size) {
    size = 0;
    if (entryName.empty() || buffer.data() == nullptr)
        return kErrorInvalidParameter;
    std::vector<uint8_t> image;
    if (const int result = LoadImage(fileName, image); result != kSuccess)
        return result;
    EntryLayout layout;
    if (const int result = FindPackageEntry(image, entryName, layout); result != kSuccess)
        return result;
    if (layout.size > buffer.size())
        return kErrorInvalidData;
    MemorySource source(image);
    if (const int result = ReadEntryData(source, layout, buffer.first(layout.size)); result != kSuccess)
        return result;
    size = layout.size;
    return kSuccess;
}

int ReadRootInf(const std::string& fileName, std::string& text) {
    std::vector<uint8_t> data;
    if (const int result = ReadEntry(fileName, kRootInfName, data); result != kSuccess)
        return result;
    size_t length = 0;
    while (length < data.size() && data[length] != 0)
        ++length;
    try {
        text.assign(reinterpret_cast<const char*>(data.data()), length);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    return kSuccess;
}

} // namespace caparchive
