// Big-endian field access: every multi-byte integer of a package file is stored most significant
// byte first.
#pragma once

#include <cstdint>
#include <vector>

namespace caparchive {

inline uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t LoadU32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint64_t LoadU64(const uint8_t* p) {
    return uint64_t{LoadU32(p)} << 32 | LoadU32(p + 4);
}

inline void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

inline void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    AppendU16(out, static_cast<uint16_t>(v >> 16));
    AppendU16(out, static_cast<uint16_t>(v));
}

inline void AppendU64(std::vector<uint8_t>& out, uint64_t v) {
    AppendU32(out, static_cast<uint32_t>(v >> 32));
    AppendU32(out, static_cast<uint32_t>(v));
}

} // namespace caparchive
