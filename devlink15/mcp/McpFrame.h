// MCP frame layout, CRC-32 and encoder.
//
// A frame is "MM", kind, channel, seq, payload length (big-endian 16 bits), the payload and a
// big-endian CRC-32 over everything before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace devlink15 {

inline constexpr uint8_t kMcpSync = 0x4D; // "M"
inline constexpr uint8_t kMcpDataFrame = 17;
inline constexpr uint8_t kMcpControlFrame = 18;
inline constexpr size_t kMcpHeaderSize = 7; // "MM" + five header bytes
inline constexpr size_t kMcpCrcSize = 4;
inline constexpr size_t kMcpMaxDataPayload = 512;
inline constexpr size_t kMcpMaxControlPayload = 4;
inline constexpr size_t kMcpMaxFrameSize = kMcpHeaderSize + kMcpMaxDataPayload + kMcpCrcSize; // 523

// Control codes carried in byte 0 of a control payload.
inline constexpr uint8_t kMcpRequest = 2;  // send me data frame seq (acknowledges every earlier one)
inline constexpr uint8_t kMcpFinalAck = 3; // final acknowledgement of data frame seq
inline constexpr uint8_t kMcpResetChannel = 4;
inline constexpr uint8_t kMcpCloseChannel = 5;

// Reflected CRC-32 (polynomial 0xEDB88320). The register starts at kMcpCrcInit; the transmitted
// value is the register complemented.
inline constexpr uint32_t kMcpCrcInit = 0xFFFFFFFFu;
uint32_t McpCrcFold(uint32_t crc, uint8_t byte);
uint32_t McpCrc32(const uint8_t* data, size_t length);

// Largest payload a frame of this kind may carry; 0 for an unknown kind.
size_t McpPayloadLimit(uint8_t kind);

struct McpEncodedFrame {
    std::array<uint8_t, kMcpMaxFrameSize> bytes{};
    size_t size = 0;
};

// Encodes one frame; false when the kind is unknown or the payload exceeds the kind's limit.
bool EncodeMcpFrame(uint8_t kind, uint8_t channel, uint8_t seq, const uint8_t* payload, size_t length,
                    McpEncodedFrame& frame);

} // namespace devlink15
