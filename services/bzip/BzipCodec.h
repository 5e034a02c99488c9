// bzip2 compression and expansion of memory buffers and of byte streams. Results are the
// library's own codes (BZ_OK, BZ_DATA_ERROR, ...); a failed read or write of a stream gives
// BZ_IO_ERROR. Streams move through two fixed 4096-byte buffers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tv::bzip {

struct CodecSettings {
    int blockSize = 1;        // 1..9, in units of 100 000 bytes
    int workFactor = 0;       // 0..250; 0 means the library's default of 30
    bool smallMemory = false; // expand with the library's slower small-memory mode
};

// Where a stream reads from: fills up to `capacity` bytes, sets `got` (0 at the end).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual bool Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) = 0;
};

// Where a stream writes to.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool Write(const std::uint8_t* data, std::size_t length) = 0;
};

constexpr std::size_t kStreamPiece = 4096;

// One-shot forms. `destLength` is the capacity of `dest` on entry and the produced length on
// success; it is 0 after a failure.
int CompressBuffer(const CodecSettings& settings, const std::uint8_t* source, std::size_t sourceLength,
                   std::uint8_t* dest, unsigned int* destLength);
int ExpandBuffer(const CodecSettings& settings, const std::uint8_t* source, std::size_t sourceLength,
                 std::uint8_t* dest, unsigned int* destLength);

// Stream forms. Compression of an empty source gives a valid empty stream. Expansion requires
// the stream's end marker (a source that ends before it gives BZ_UNEXPECTED_EOF) and ignores
// whatever follows the end marker.
int CompressStream(const CodecSettings& settings, ByteSource& source, ByteSink& sink);
int ExpandStream(const CodecSettings& settings, ByteSource& source, ByteSink& sink);

} // namespace tv::bzip
