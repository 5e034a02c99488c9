// The container shared by device applications (.app) and packages (.cap): a directory of named
// entries, each stored plainly or compressed with the entry codec. All integers are big-endian,
// offsets count from the first byte of the file.
//
//   offset 0  u16 magic "Zv" (0x5A76)
//   offset 2  u16 entry count N
//   offset 4  u16 header word H (a length the reader only bounds-checks: the file must be longer
//             than 6 + H); the archive writes 0
//   offset 6  N directory records of 10 bytes: u16 name offset (a zero-terminated 8-bit name),
//             u32 data offset, u32 stored length L of the body
//
//   body: u8 method (0 stored, anything else compressed), then either the L - 1 entry bytes, or
//         u32 unpacked size U and the L - 5 bytes of the compressed stream.
//
// The reader here checks more than the offsets: a body must lie wholly inside the file, a
// compressed body needs its 5 header bytes, U may not exceed what the stream can possibly decode
// to, and the stream must decode to exactly U bytes. Anything else is kErrorInvalidData.
#pragma once

#include "byte_io.h"

#include <cstdint>
#include <span>
#include <vector>

namespace caparchive {

inline constexpr uint16_t kPackageMagic = 0x5A76;
inline constexpr uint32_t kFileHeaderSize = 6;
inline constexpr uint32_t kDirectoryRecordSize = 10;
inline constexpr uint8_t kMethodStored = 0;
inline constexpr uint8_t kMethodCompressed = 1;
inline constexpr uint32_t kStoredHeaderSize = 1;
inline constexpr uint32_t kCompressedHeaderSize = 5;

struct FileHeader {
    uint16_t magic = 0;
    uint16_t entryCount = 0;
    uint16_t headerWord = 0;
};

struct DirectoryRecord {
    uint16_t nameOffset = 0;
    uint32_t dataOffset = 0;
    uint32_t storedLength = 0;
};

// Where an entry's bytes are and how they are kept.
struct EntryLayout {
    bool compressed = false;
    uint32_t size = 0;          // the entry size: L - 1, or U
    uint64_t payloadOffset = 0; // first byte after the method byte (and U)
    uint32_t payloadLength = 0; // stored bytes, or the compressed stream's length
};

FileHeader ParseFileHeader(const uint8_t* bytes);
DirectoryRecord ParseDirectoryRecord(const uint8_t* bytes);

// Magic and the header's bounds against the file size; kErrorInvalidData when they fail.
int CheckFileHeader(const FileHeader& header, uint64_t fileSize);

// Reads the method byte (and U) of a record's body and checks the body against the file.
int ReadEntryLayout(ByteSource& source, const DirectoryRecord& record, EntryLayout& layout);

// Reads and, when compressed, decodes the entry into `out`, which holds layout.size bytes.
int ReadEntryData(ByteSource& source, const EntryLayout& layout, std::span<uint8_t> out);

// Builds the body of an entry: compressed when that is smaller, stored otherwise.
int BuildEntryBody(std::span<const uint8_t> data, std::vector<uint8_t>& body);

} // namespace caparchive
