// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320): the 1.0 link's block protocol and the
// device files that carry a checksum use this one implementation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace tv::portable {

uint32_t Crc32(std::span<const uint8_t> bytes);

} // namespace tv::portable
