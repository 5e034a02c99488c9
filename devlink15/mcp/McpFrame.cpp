#include "McpFrame.h"

namespace devlink15 {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

uint32_t McpCrcFold(uint32_t crc, uint8_t byte) {
    return kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

uint32_t McpCrc32(const uint8_t* data, size_t length) {
    uint32_t crc = kMcpCrcInit;
    for (size_t i = 0; i < length; ++i)
        crc = McpCrcFold(crc, data[i]);
    return ~crc;
}

size_t McpPayloadLimit(uint8_t kind) {
    switch (kind) {
    case kMcpDataFrame:
        return kMcpMaxDataPayload;
    case kMcpControlFrame:
        return kMcpMaxControlPayload;
    default:
        return 0;
    }
}

bool EncodeMcpFrame(uint8_t kind, uint8_t channel, uint8_t seq, const uint8_t* payload, size_t length,
                    McpEncodedFrame& frame) {
    if (McpPayloadLimit(kind) == 0 || length > McpPayloadLimit(kind) || (length > 0 && payload == nullptr))
        return false;
    uint8_t* out = frame.bytes.data();
    size_t at = 0;
    out[at++] = kMcpSync;
    out[at++] = kMcpSync;
    out[at++] = kind;
    out[at++] = channel;
    out[at++] = seq;
    out[at++] = static_cast<uint8_t>(length >> 8);
    out[at++] = static_cast<uint8_t>(length & 0xFF);
    for (size_t i = 0; i < length; ++i)
        out[at++] = payload[i];
    const uint32_t crc = McpCrc32(out, at);
    out[at++] = static_cast<uint8_t>(crc >> 24);
    out[at++] = static_cast<uint8_t>(crc >> 16);
    out[at++] = static_cast<uint8_t>(crc >> 8);
    out[at++] = static_cast<uint8_t>(crc);
    frame.size = at;
    return true;
}

} // namespace devlink15
