// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320), used by the block protocol.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace zvport {

uint32_t Crc32(std::span<const uint8_t> bytes);

} // namespace zvport
