// MCP frames as they travel over the USB byte link: "MM", kind, channel, sequence number,
// big-endian payload length, payload, big-endian CRC-32 over everything before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zvemu {

constexpr uint8_t kMcpDataFrame = 17;
constexpr uint8_t kMcpControlFrame = 18;
constexpr size_t kMcpMaxDataPayload = 512;
constexpr size_t kMcpMaxControlPayload = 4;

// Control codes carried in byte 0 of a control payload.
constexpr uint8_t kMcpRequest = 2;  // send me data frame `seq` (acknowledges the ones before it)
constexpr uint8_t kMcpFinalAck = 3; // data frame `seq` was the last one I wanted
constexpr uint8_t kMcpReset = 4;
constexpr uint8_t kMcpClose = 5;

struct McpFrame {
    uint8_t kind = kMcpDataFrame;
    uint8_t channel = 0;
    uint8_t seq = 0;
    std::vector<uint8_t> payload;

    static McpFrame control(uint8_t channel, uint8_t code, uint8_t seq);
    bool isControl() const { return kind == kMcpControlFrame; }
    uint8_t controlCode() const { return payload.size() > 0 ? payload[0] : 0; }
    uint8_t controlSeq() const { return payload.size() > 1 ? payload[1] : 0; }
};

// Reflected CRC-32 (polynomial 0xEDB88320, preset all ones, complemented result).
uint32_t Crc32(std::span<const uint8_t> bytes);

std::vector<uint8_t> EncodeMcpFrame(const McpFrame& frame);

// Finds frames in a byte stream that arrives in arbitrary pieces. Anything that is not a
// well-formed frame with a matching CRC is skipped one byte at a time, so the decoder
// resynchronises on the next "MM" that starts a valid frame.
class McpFrameDecoder {
  public:
    std::vector<McpFrame> Feed(std::span<const uint8_t> bytes);

    uint64_t droppedFrames() const { return droppedFrames_; }

  private:
    std::vector<uint8_t> pending_;
    uint64_t droppedFrames_ = 0;
};

} // namespace zvemu
