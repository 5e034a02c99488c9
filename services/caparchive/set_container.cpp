#include "set_container.h"

#include "big_endian.h"
#include "entry_codec.h"
#include "field_reader.h"
#include "package_catalog.h"
#include "result_codes.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace caparchive {
namespace {

constexpr uint8_t kSignature[8] = {'Z', 'V', 'S', 'E', 'T', '\r', '\n', 0x1A};
constexpr uint8_t kEndSignature[8] = {'Z', 'V', 'S', 'E', 'T', 'E', 'N', 'D'};
constexpr uint32_t kVersion = 1;
constexpr uint64_t kHeadSize = 16;
constexpr uint64_t kTailSize = 16;
constexpr uint64_t kChunkHeaderSize = 9;
// The smallest directory record: empty name, three words and three positions.
constexpr uint64_t kMinRecordSize = 4 + 4 + 4 + 4 + 8 + 8 + 8;
// Writes to the sink go through a buffer of this size, so that small items cost few writes.
constexpr size_t kOutputBuffer = size_t{256} << 10;

bool ValidName(const std::string& name) {
    return name.size() <= kMaxItemNameLength && name.find('\0') == std::string::npos;
}

} // namespace

// The sink behind a buffer, with the count of bytes written so far (the next body's offset).
class SetWriter::Output {
  public:
    explicit Output(ByteSink& sink) : sink_(sink) { buffer_.reserve(kOutputBuffer); }

    int Write(std::span<const uint8_t> bytes) {
        position_ += bytes.size();
        if (buffer_.size() + bytes.size() > kOutputBuffer) {
            if (const int result = Flush(); result != kSuccess)
                return result;
            if (bytes.size() >= kOutputBuffer)
                return sink_.Write(bytes);
        }
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
        return kSuccess;
    }
    int Flush() {
        if (buffer_.empty())
            return kSuccess;
        const int result = sink_.Write(buffer_);
        buffer_.clear();
        return result;
    }
    uint64_t Position() const { return position_; }

  private:
    ByteSink& sink_;
    std::vector<uint8_t> buffer_;
    uint64_t position_ = 0;
};

bool IsSetContainer(ByteSource& source) {
    uint8_t head[sizeof(kSignature)];
    return source.Size() >= kHeadSize + kTailSize && source.ReadAt(0, head) == kSuccess &&
           std::memcmp(head, kSignature, sizeof(kSignature)) == 0;
}

int SpanDataSource::Read(std::span<uint8_t> out) {
    if (out.size() > data_.size() - position_)
        return kErrorInvalidData;
    if (!out.empty())
        std::memcpy(out.data(), data_.data() + position_, out.size());
    position_ += out.size();
    return kSuccess;
}

SetWriter::SetWriter(ByteSink& sink) : out_(std::make_unique<Output>(sink)) {}

SetWriter::~SetWriter() = default;

int SetWriter::Begin() {
    std::vector<uint8_t> head(std::begin(kSignature), std::end(kSignature));
    AppendU32(head, kVersion);
    AppendU32(head, 0);
    return out_->Write(head);
}

int SetWriter::WriteBody(uint64_t size, ItemDataSource& data) {
    uint64_t left = size;
    while (left > 0) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(left, kSetChunkSize));
        try {
            chunk_.resize(length);
            packed_.resize(length);
        } catch (const std::bad_alloc&) {
            return kErrorNotEnoughMemory;
        }
        if (const int result = data.Read(chunk_); result != kSuccess)
            return result;
        const std::ptrdiff_t packedLength = CompressEntryFast(packed_, chunk_);
        const bool compressed = packedLength >= 0;
        const std::span<const uint8_t> stored =
            compressed ? std::span<const uint8_t>(packed_.data(), static_cast<size_t>(packedLength))
                       : std::span<const uint8_t>(chunk_);
        std::vector<uint8_t> header{compressed ? kMethodCompressed : kMethodStored};
        AppendU32(header, static_cast<uint32_t>(length));
        AppendU32(header, static_cast<uint32_t>(stored.size()));
        if (const int result = out_->Write(header); result != kSuccess)
            return result;
        if (const int result = out_->Write(stored); result != kSuccess)
            return result;
        left -= length;
    }
    return kSuccess;
}

int SetWriter::Add(const std::string& name, int32_t kind, int32_t storedLong, uint32_t attributes,
                   uint64_t size, ItemDataSource& data) {
    if (!ValidName(name) || count_ == UINT32_MAX)
        return kErrorInvalidParameter;
    const uint64_t offset = out_->Position();
    if (const int result = WriteBody(size, data); result != kSuccess)
        return result;
    try {
        AppendText(directory_, name);
        AppendU32(directory_, static_cast<uint32_t>(kind));
        AppendU32(directory_, static_cast<uint32_t>(storedLong));
        AppendU32(directory_, attributes);
        AppendU64(directory_, offset);
        AppendU64(directory_, out_->Position() - offset);
        AppendU64(directory_, size);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    ++count_;
    return kSuccess;
}

int SetWriter::Finish(int32_t option, const std::optional<PackageHeader>& header) {
    const uint64_t directoryOffset = out_->Position();
    std::vector<uint8_t> front;
    AppendU32(front, static_cast<uint32_t>(option));
    AppendPackageHeader(front, header);
    AppendU32(front, count_);
    std::vector<uint8_t> tail;
    AppendU64(tail, directoryOffset);
    tail.insert(tail.end(), std::begin(kEndSignature), std::end(kEndSignature));
    for (std::span<const uint8_t> part :
         {std::span<const uint8_t>(front), std::span<const uint8_t>(directory_),
          std::span<const uint8_t>(tail)})
        if (const int result = out_->Write(part); result != kSuccess)
            return result;
    return out_->Flush();
}

int WriteSetPackage(const Package& package, ByteSink& sink) {
    SetWriter writer(sink);
    if (const int result = writer.Begin(); result != kSuccess)
        return result;
    for (const PackageItem& item : package.items) {
        SpanDataSource data(item.data);
        if (const int result =
                writer.Add(item.name, item.kind, item.storedLong, item.attributes, item.data.size(), data);
            result != kSuccess)
            return result;
    }
    return writer.Finish(package.option, package.header);
}

uint64_t MaxSetDataSize(uint64_t length) {
    // A chunk of S stored bytes (and its 9-byte header) decodes to at most MaxExpandedSize(S),
    // which is below 121 bytes per byte of the chunk.
    return length > (UINT64_MAX / 121) ? UINT64_MAX : length * 121;
}

int ReadSetDirectory(ByteSource& source, PackageDirectory& directory) {
    directory = {};
    const uint64_t fileSize = source.Size();
    if (!IsSetContainer(source))
        return kErrorInvalidData;
    std::vector<uint8_t> bytes;
    if (const int result = ReadBlock(source, 0, kHeadSize, bytes); result != kSuccess)
        return result;
    if (LoadU32(bytes.data() + 8) != kVersion)
        return kErrorInvalidData;
    if (const int result = ReadBlock(source, fileSize - kTailSize, kTailSize, bytes); result != kSuccess)
        return result;
    if (std::memcmp(bytes.data() + 8, kEndSignature, sizeof(kEndSignature)) != 0)
        return kErrorInvalidData;
    const uint64_t directoryOffset = LoadU64(bytes.data());
    if (directoryOffset < kHeadSize || directoryOffset > fileSize - kTailSize)
        return kErrorInvalidData;
    if (const int result = ReadBlock(source, directoryOffset, fileSize - kTailSize - directoryOffset, bytes);
        result != kSuccess)
        return result;

    FieldReader reader(bytes);
    uint32_t count = 0;
    if (!reader.I32(directory.option) || !ReadPackageHeader(reader, directory.header) || !reader.U32(count) ||
        count > reader.Left() / kMinRecordSize)
        return kErrorInvalidData;
    try {
        directory.items.resize(count);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    for (ItemEntry& item : directory.items) {
        SetBody body;
        if (!reader.Text(item.name) || !reader.I32(item.kind) || !reader.I32(item.storedLong) ||
            !reader.U32(item.attributes) || !reader.U64(body.offset) || !reader.U64(body.length) ||
            !reader.U64(body.size))
            return kErrorInvalidData;
        if (!ValidName(item.name) || body.offset < kHeadSize || body.offset > directoryOffset ||
            body.length > directoryOffset - body.offset || body.size > MaxSetDataSize(body.length))
            return kErrorInvalidData;
        item.setBody = body;
    }
    return reader.AtEnd() ? kSuccess : kErrorInvalidData;
}

namespace {

// A body's bytes read a window at a time, so that its chunk headers and streams cost few reads.
class BodyWindow {
  public:
    BodyWindow(ByteSource& source, uint64_t end) : source_(source), end_(end) {}

    // The `length` bytes at `at`, which lie before the end of the body.
    int Get(uint64_t at, size_t length, const uint8_t*& bytes) {
        if (at < start_ || at + length > start_ + window_.size()) {
            const uint64_t want = std::min<uint64_t>(end_ - at, std::max<size_t>(length, kWindowSize));
            if (const int result = ReadBlock(source_, at, want, window_); result != kSuccess)
                return result;
            start_ = at;
        }
        bytes = window_.data() + (at - start_);
        return kSuccess;
    }

  private:
    static constexpr size_t kWindowSize = 2 * kSetChunkSize;
    ByteSource& source_;
    uint64_t end_;
    std::vector<uint8_t> window_;
    uint64_t start_ = 0;
};

int DecodeSetBody(ByteSource& source, const SetBody& body, std::span<uint8_t> data) {
    const uint64_t end = body.offset + body.length;
    BodyWindow window(source, end);
    uint64_t at = body.offset;
    size_t filled = 0;
    while (at < end) {
        const uint8_t* header = nullptr;
        if (end - at < kChunkHeaderSize)
            return kErrorInvalidData;
        if (const int result = window.Get(at, kChunkHeaderSize, header); result != kSuccess)
            return result;
        at += kChunkHeaderSize;
        const uint8_t method = header[0];
        const uint32_t size = LoadU32(header + 1);
        const uint32_t stored = LoadU32(header + 5);
        if (size == 0 || size > kSetChunkSize || size > data.size() - filled || stored > end - at)
            return kErrorInvalidData;
        const std::span<uint8_t> target = data.subspan(filled, size);
        const uint8_t* bytes = nullptr;
        if (method == kMethodStored) {
            if (stored != size)
                return kErrorInvalidData;
            if (const int result = window.Get(at, stored, bytes); result != kSuccess)
                return result;
            std::memcpy(target.data(), bytes, size);
        } else if (method == kMethodCompressed) {
            if (stored == 0 || stored >= size || size > MaxExpandedSize(stored))
                return kErrorInvalidData;
            if (const int result = window.Get(at, stored, bytes); result != kSuccess)
                return result;
            size_t produced = 0;
            if (const int result = ExpandEntry(target, std::span<const uint8_t>(bytes, stored), produced);
                result != kSuccess)
                return result;
            if (produced != size)
                return kErrorInvalidData;
        } else {
            return kErrorInvalidData;
        }
        at += stored;
        filled += size;
    }
    return filled == data.size() ? kSuccess : kErrorInvalidData;
}

} // namespace

int ReadSetItemData(ByteSource& source, const SetBody& body, std::vector<uint8_t>& data) {
    data.clear();
    if (body.size > MaxSetDataSize(body.length) || body.offset > source.Size() ||
        body.length > source.Size() - body.offset)
        return kErrorInvalidData;
    try {
        data.resize(static_cast<size_t>(body.size));
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    const int result = DecodeSetBody(source, body, data);
    if (result != kSuccess)
        data.clear();
    return result;
}

} // namespace caparchive
