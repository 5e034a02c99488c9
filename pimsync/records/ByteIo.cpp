#include "ByteIo.h"

#include <cstring>

namespace pimsync {

size_t MemoryReader::Read(void* buffer, size_t size) {
    const size_t count = size < size_ - pos_ ? size : size_ - pos_;
    if (count != 0)
        std::memcpy(buffer, data_ + pos_, count);
    pos_ += count;
    return count;
}

bool MemoryWriter::Write(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + size);
    return true;
}

bool WriteU8(ByteWriter& out, uint8_t value) {
    return out.Write(&value, 1);
}

bool WriteU16BE(ByteWriter& out, uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return out.Write(bytes, 2);
}

bool WriteU32BE(ByteWriter& out, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return out.Write(bytes, 4);
}

bool ReadU8(ByteReader& in, uint8_t& value) {
    value = 0;
    return in.Read(&value, 1) == 1;
}

bool ReadU16BE(ByteReader& in, uint16_t& value) {
    value = 0;
    uint8_t bytes[2];
    if (in.Read(bytes, 2) != 2)
        return false;
    value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    return true;
}

bool ReadU32BE(ByteReader& in, uint32_t& value) {
    value = 0;
    uint8_t bytes[4];
    if (in.Read(bytes, 4) != 4)
        return false;
    value = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    return true;
}

bool WriteByteString(ByteWriter& out, const std::string& text) {
    if (text.size() > 255)
        return false;
    return WriteU8(out, static_cast<uint8_t>(text.size())) && out.Write(text.data(), text.size());
}

bool ReadByteString(ByteReader& in, std::string& text) {
    text.clear();
    uint8_t length = 0;
    if (!ReadU8(in, length))
        return false;
    char buffer[256];
    if (in.Read(buffer, length) != length)
        return false;
    text.assign(buffer, length);
    return true;
}

} // namespace pimsync
