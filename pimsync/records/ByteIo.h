// Big-endian integers and length-prefixed byte strings over a byte stream: the building blocks of
// the device's phone book and organizer files. The streams are a file on the PC or a buffer in
// memory (tests, fuzzing).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pimsync {

class ByteReader {
  public:
    virtual ~ByteReader() = default;
    // Reads up to size bytes; returns how many were read (fewer only at the end).
    virtual size_t Read(void* buffer, size_t size) = 0;
};

class ByteWriter {
  public:
    virtual ~ByteWriter() = default;
    virtual bool Write(const void* data, size_t size) = 0;
};

class MemoryReader : public ByteReader {
  public:
    MemoryReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit MemoryReader(const std::vector<uint8_t>& bytes) : MemoryReader(bytes.data(), bytes.size()) {}
    size_t Read(void* buffer, size_t size) override;

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

class MemoryWriter : public ByteWriter {
  public:
    bool Write(const void* data, size_t size) override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

class FileReader : public ByteReader {
  public:
    explicit FileReader(std::FILE* file) : file_(file) {}
    size_t Read(void* buffer, size_t size) override { return std::fread(buffer, 1, size, file_); }

  private:
    std::FILE* file_;
};

class FileWriter : public ByteWriter {
  public:
    explicit FileWriter(std::FILE* file) : file_(file) {}
    bool Write(const void* data, size_t size) override { return std::fwrite(data, 1, size, file_) == size; }

  private:
    std::FILE* file_;
};

// True only when exactly 1, 2 or 4 bytes were transferred; the readers set the value to 0 first.
bool WriteU8(ByteWriter& out, uint8_t value);
bool WriteU16BE(ByteWriter& out, uint16_t value);
bool WriteU32BE(ByteWriter& out, uint32_t value);
bool ReadU8(ByteReader& in, uint8_t& value);
bool ReadU16BE(ByteReader& in, uint16_t& value);
bool ReadU32BE(ByteReader& in, uint32_t& value);

// One length byte, then the text's bytes without a terminator. A text longer than 255 bytes cannot
// be stored and fails the write.
bool WriteByteString(ByteWriter& out, const std::string& text);
bool ReadByteString(ByteReader& in, std::string& text);

} // namespace pimsync
