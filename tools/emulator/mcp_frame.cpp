#include "mcp_frame.h"

#include <array>

namespace zvemu {
namespace {

constexpr size_t kHeaderSize = 7;
constexpr size_t kCrcSize = 4;

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint32_t CrcUpdate(uint32_t reg, std::span<const uint8_t> bytes) {
    const auto& table = CrcTable();
    for (uint8_t b : bytes)
        reg = table[(reg ^ b) & 0xFF] ^ (reg >> 8);
    return reg;
}

} // namespace

McpFrame McpFrame::control(uint8_t channel, uint8_t code, uint8_t seq) {
    McpFrame f;
    f.kind = kMcpControlFrame;
    f.channel = channel;
    f.seq = 0;
    f.payload = {code, seq, 0, 0};
    return f;
}

uint32_t Crc32(std::span<const uint8_t> bytes) {
    return ~CrcUpdate(0xFFFFFFFFu, bytes);
}

std::vector<uint8_t> EncodeMcpFrame(const McpFrame& frame) {
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + frame.payload.size() + kCrcSize);
    const auto length = static_cast<uint16_t>(frame.payload.size());
    out.insert(out.end(), {'M', 'M', frame.kind, frame.channel, frame.seq, static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length & 0xFF)});
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    const uint32_t crc = Crc32(out);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(crc >> shift));
    return out;
}

std::vector<McpFrame> McpFrameDecoder::Feed(std::span<const uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::vector<McpFrame> frames;
    size_t pos = 0;
    while (true) {
        // Seek the next "MM".
        while (pos + 1 < pending_.size() && !(pending_[pos] == 'M' && pending_[pos + 1] == 'M'))
            ++pos;
        if (pos + kHeaderSize > pending_.size())
            break;
        const uint8_t kind = pending_[pos + 2];
        const size_t length = (size_t{pending_[pos + 5]} << 8) | pending_[pos + 6];
        const size_t limit = kind == kMcpDataFrame      ? kMcpMaxDataPayload
                             : kind == kMcpControlFrame ? kMcpMaxControlPayload
                                                        : 0;
        if ((kind != kMcpDataFrame && kind != kMcpControlFrame) || length > limit) {
            ++pos;
            continue;
        }
        const size_t total = kHeaderSize + length + kCrcSize;
        if (pos + total > pending_.size())
            break;
        const std::span<const uint8_t> body(pending_.data() + pos, kHeaderSize + length);
        const uint8_t* crcBytes = pending_.data() + pos + kHeaderSize + length;
        const uint32_t received = (uint32_t{crcBytes[0]} << 24) | (uint32_t{crcBytes[1]} << 16) |
                                  (uint32_t{crcBytes[2]} << 8) | crcBytes[3];
        if (Crc32(body) != received) {
            ++droppedFrames_;
            ++pos;
            continue;
        }
        McpFrame frame;
        frame.kind = kind;
        frame.channel = pending_[pos + 3];
        frame.seq = pending_[pos + 4];
        frame.payload.assign(body.begin() + kHeaderSize, body.end());
        frames.push_back(std::move(frame));
        pos += total;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    return frames;
}

} // namespace zvemu
