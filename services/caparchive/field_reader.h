// The fields of the archive's own records (the catalog, the backup set directory): big-endian
// integers and texts with a 32-bit byte count, read front to back without running past the end.
#pragma once

#include "big_endian.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace caparchive {

inline void AppendText(std::vector<uint8_t>& out, const std::string& text) {
    AppendU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

class FieldReader {
  public:
    explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool Take(size_t count, const uint8_t*& field) {
        if (count > bytes_.size() - position_)
            return false;
        field = bytes_.data() + position_;
        position_ += count;
        return true;
    }
    bool U8(uint8_t& value) {
        const uint8_t* p;
        return Take(1, p) && ((value = *p), true);
    }
    bool U16(uint16_t& value) {
        const uint8_t* p;
        return Take(2, p) && ((value = LoadU16(p)), true);
    }
    bool U32(uint32_t& value) {
        const uint8_t* p;
        return Take(4, p) && ((value = LoadU32(p)), true);
    }
    bool I32(int32_t& value) {
        uint32_t raw;
        return U32(raw) && ((value = static_cast<int32_t>(raw)), true);
    }
    bool U64(uint64_t& value) {
        const uint8_t* p;
        return Take(8, p) && ((value = LoadU64(p)), true);
    }
    bool Text(std::string& text) {
        uint32_t length;
        const uint8_t* p;
        if (!U32(length) || !Take(length, p))
            return false;
        text.assign(reinterpret_cast<const char*>(p), length);
        return true;
    }
    size_t Left() const { return bytes_.size() - position_; }
    bool AtEnd() const { return position_ == bytes_.size(); }

  private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

} // namespace caparchive
