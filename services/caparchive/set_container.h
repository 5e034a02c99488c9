// Backup sets (packages with option 1) are written in a container of the archive's own, without the
// limits of the package layout (16-bit name positions and entry counts, 32-bit offsets), so that a
// device with many files or much data fits. The item bodies are streamed one after the other and
// the directory follows them, so that an item's data never has to be held whole. All integers are
// big-endian like the rest of the archive's files.
//
//   offset 0   8 bytes  signature "ZVSET\r\n\x1A" (a package file begins with "Zv": never this)
//              u32      version, 1
//              u32      0
//   offset 16  the item bodies, in item order
//   then       the directory: i32 package option, the optional header (package_catalog.h),
//              u32 item count, and per item: the name (u32 byte count and the bytes), i32 kind,
//              i32 stored long, u32 attributes, u64 body offset, u64 body length, u64 data size
//   last 16    u64 directory offset, 8 bytes "ZVSETEND"
//
//   body: chunks of at most kSetChunkSize data bytes, each u8 method (0 stored, 1 the entry codec),
//         u32 data bytes U, u32 stored bytes S, then the S bytes. A stored chunk has S = U; a
//         compressed one decodes to exactly U bytes. An empty item has no chunk.
#pragma once

#include "byte_io.h"
#include "package.h"
#include "package_reader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace caparchive {

inline constexpr size_t kSetChunkSize = size_t{1} << 20;

// Whether the source begins with the signature of a backup set container.
bool IsSetContainer(ByteSource& source);

// The data of an item while it is written; Read fills `out` wholly or gives an error code.
class ItemDataSource {
  public:
    virtual ~ItemDataSource() = default;
    virtual int Read(std::span<uint8_t> out) = 0;
};

// Data held in memory.
class SpanDataSource final : public ItemDataSource {
  public:
    explicit SpanDataSource(std::span<const uint8_t> data) : data_(data) {}
    int Read(std::span<uint8_t> out) override;

  private:
    std::span<const uint8_t> data_;
    size_t position_ = 0;
};

// Writes one backup set: Begin, one Add per item in order, Finish. Holds at most one chunk of an
// item's data at a time. Every call gives a result code; after a failure the sink holds no
// complete set.
class SetWriter {
  public:
    explicit SetWriter(ByteSink& sink);
    ~SetWriter();
    SetWriter(const SetWriter&) = delete;
    SetWriter& operator=(const SetWriter&) = delete;

    int Begin();
    // kErrorInvalidParameter for a name with a zero byte or longer than kMaxItemNameLength.
    int Add(const std::string& name, int32_t kind, int32_t storedLong, uint32_t attributes, uint64_t size,
            ItemDataSource& data);
    int Finish(int32_t option, const std::optional<PackageHeader>& header);

  private:
    class Output;
    int WriteBody(uint64_t size, ItemDataSource& data);

    std::unique_ptr<Output> out_;
    std::vector<uint8_t> directory_;
    uint32_t count_ = 0;
    std::vector<uint8_t> chunk_;
    std::vector<uint8_t> packed_;
};

// A whole package held in memory, as a backup set container.
int WriteSetPackage(const Package& package, ByteSink& sink);

// The directory of a backup set container; each item carries its body.
int ReadSetDirectory(ByteSource& source, PackageDirectory& directory);

// The most data a body of `length` bytes can hold; a larger claim is corrupt.
uint64_t MaxSetDataSize(uint64_t length);

// Reads and decodes an item's body into `data` (body.size bytes).
int ReadSetItemData(ByteSource& source, const SetBody& body, std::vector<uint8_t>& data);

} // namespace caparchive
