// Random-access byte sources and sequential byte sinks for package files, so that the reader can
// take only the parts of a file it needs and the Windows side can supply its own file handles.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace caparchive {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Fills `out` from `offset`; a range past the end or a failed read gives an error code.
    virtual int ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
};

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual int Write(std::span<const uint8_t> bytes) = 0;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    int ReadAt(uint64_t offset, std::span<uint8_t> out) override;

  private:
    std::span<const uint8_t> bytes_;
};

class VectorSink final : public ByteSink {
  public:
    int Write(std::span<const uint8_t> bytes) override;
    std::vector<uint8_t>& Bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// A file opened for reading through the C library; Open() gives the error code of the failure.
class FileSource final : public ByteSource {
  public:
    FileSource() = default;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;

    int Open(const std::string& path);
    uint64_t Size() const override { return size_; }
    int ReadAt(uint64_t offset, std::span<uint8_t> out) override;

  private:
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
};

// A file created (or truncated) for writing; Close() flushes and reports a failed write.
class FileSink final : public ByteSink {
  public:
    FileSink() = default;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    ~FileSink() override;

    int Create(const std::string& path);
    int Write(std::span<const uint8_t> bytes) override;
    int Close();

  private:
    std::FILE* file_ = nullptr;
};

// Reads `length` bytes at `offset` into `block`, which is resized to hold them.
int ReadBlock(ByteSource& source, uint64_t offset, uint64_t length, std::vector<uint8_t>& block);

// Reads a whole file into `bytes`.
int ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

} // namespace caparchive
