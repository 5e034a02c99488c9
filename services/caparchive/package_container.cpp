#include "package_container.h"

#include "big_endian.h"
#include "entry_codec.h"
#include "result_codes.h"

#include <limits>
#include <new>

namespace caparchive {

FileHeader ParseFileHeader(const uint8_t* bytes) {
    return {LoadU16(bytes), LoadU16(bytes + 2), LoadU16(bytes + 4)};
}

DirectoryRecord ParseDirectoryRecord(const uint8_t* bytes) {
    return {LoadU16(bytes), LoadU32(bytes + 2), LoadU32(bytes + 6)};
}

int CheckFileHeader(const FileHeader& header, uint64_t fileSize) {
    if (header.magic != kPackageMagic)
        return kErrorInvalidData;
    if (fileSize <= kFileHeaderSize + uint64_t{kDirectoryRecordSize} * header.entryCount)
        return kErrorInvalidData;
    if (fileSize <= kFileHeaderSize + uint64_t{header.headerWord})
        return kErrorInvalidData;
    return kSuccess;
}

int ReadEntryLayout(ByteSource& source, const DirectoryRecord& record, EntryLayout& layout) {
    layout = {};
    const uint64_t fileSize = source.Size();
    if (record.dataOffset >= fileSize || record.storedLength < kStoredHeaderSize ||
        record.storedLength > fileSize - record.dataOffset)
        return kErrorInvalidData;
    uint8_t head[kCompressedHeaderSize];
    if (const int result = source.ReadAt(record.dataOffset, std::span(head, 1)); result != kSuccess)
        return result;
    if (head[0] == kMethodStored) {
        layout.size = record.storedLength - kStoredHeaderSize;
        layout.payloadOffset = record.dataOffset + uint64_t{kStoredHeaderSize};
        layout.payloadLength = layout.size;
        return kSuccess;
    }
    if (record.storedLength < kCompressedHeaderSize)
        return kErrorInvalidData;
    if (const int result = source.ReadAt(record.dataOffset, head); result != kSuccess)
        return result;
    layout.compressed = true;
    layout.size = LoadU32(head + 1);
    layout.payloadOffset = record.dataOffset + uint64_t{kCompressedHeaderSize};
    layout.payloadLength = record.storedLength - kCompressedHeaderSize;
    if (layout.size > MaxExpandedSize(layout.payloadLength))
        return kErrorInvalidData;
    return kSuccess;
}

int ReadEntryData(ByteSource& source, const EntryLayout& layout, std::span<uint8_t> out) {
    if (out.size() != layout.size)
        return kErrorInvalidParameter;
    if (!layout.compressed)
        return source.ReadAt(layout.payloadOffset, out);
    std::vector<uint8_t> stream;
    try {
        stream.resize(layout.payloadLength);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    if (const int result = source.ReadAt(layout.payloadOffset, stream); result != kSuccess)
        return result;
    size_t produced = 0;
    if (const int result = ExpandEntry(out, stream, produced); result != kSuccess)
        return result;
    return produced == layout.size ? kSuccess : kErrorInvalidData;
}

int BuildEntryBody(std::span<const uint8_t> data, std::vector<uint8_t>& body) {
    body.clear();
    if (data.size() > std::numeric_limits<uint32_t>::max() - kCompressedHeaderSize)
        return kErrorInvalidParameter;
    try {
        body.resize(kCompressedHeaderSize + data.size());
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    const std::ptrdiff_t packed = CompressEntry(std::span(body).subspan(kCompressedHeaderSize), data);
    // Compressed only when the whole body, U included, comes out smaller than the stored body.
    if (packed >= 0 &&
        static_cast<size_t>(packed) + kCompressedHeaderSize < data.size() + kStoredHeaderSize) {
        body[0] = kMethodCompressed;
        const auto size = static_cast<uint32_t>(data.size());
        body[1] = static_cast<uint8_t>(size >> 24);
        body[2] = static_cast<uint8_t>(size >> 16);
        body[3] = static_cast<uint8_t>(size >> 8);
        body[4] = static_cast<uint8_t>(size);
        body.resize(kCompressedHeaderSize + static_cast<size_t>(packed));
    } else {
        body[0] = kMethodStored;
        std::copy(data.begin(), data.end(), body.begin() + kStoredHeaderSize);
        body.resize(kStoredHeaderSize + data.size());
    }
    body.shrink_to_fit();
    return kSuccess;
}

} // namespace caparchive
