#include "serial10_wire.h"

#include "mcp_frame.h"

namespace zvemu {
namespace {

uint32_t ReadLittle(std::span<const uint8_t> bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[at + i];
    return value;
}

uint32_t ReadBig(std::span<const uint8_t> bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[at + i];
    return value;
}

void AppendBig(std::vector<uint8_t>& out, uint32_t value, int count) {
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendLittle(std::vector<uint8_t>& out, uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace

uint16_t ConsoleChecksum(std::string_view text) {
    uint32_t s = 0;
    for (unsigned char b : text)
        s = ((s ^ b) << 1) | ((s >> 16) & 1);
    return static_cast<uint16_t>(s);
}

std::vector<uint8_t> EncodeConsoleFrame(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    std::vector<uint8_t> frame(text.begin(), text.end());
    frame.push_back('\n');
    AppendLittle(frame, ConsoleChecksum(text), 2);
    return frame;
}

std::vector<uint8_t> EncodeCommandBlock(CommandBlock block) {
    std::vector<uint8_t> out{kDeviceCommandBlock, 0};
    AppendBig(out, 4, 2);
    AppendBig(out, block.code, 2);
    AppendBig(out, block.argument, 2);
    AppendBig(out, Crc32(out), 4);
    return out;
}

std::optional<CommandBlock> DecodeCommandBlock(std::span<const uint8_t> bytes) {
    if (bytes.size() != kCommandBlockSize || bytes[0] != kDeviceCommandBlock || bytes[1] != 0 ||
        ReadBig(bytes, 2, 2) != 4 || Crc32(bytes.first(8)) != ReadBig(bytes, 8, 4)) {
        return std::nullopt;
    }
    return CommandBlock{static_cast<uint16_t>(ReadBig(bytes, 4, 2)), static_cast<uint16_t>(ReadBig(bytes, 6, 2))};
}

std::vector<uint8_t> EncodeDeviceBlock(uint8_t tag, uint8_t sequence, std::span<const uint8_t> data) {
    std::vector<uint8_t> out{tag, sequence};
    AppendBig(out, static_cast<uint32_t>(data.size()), 2);
    out.insert(out.end(), data.begin(), data.end());
    AppendBig(out, Crc32(out), 4);
    return out;
}

std::vector<uint8_t> EncodeDataPacket(uint16_t block, std::span<const uint8_t> data) {
    std::vector<uint8_t> covered;
    AppendLittle(covered, block, 2);
    AppendLittle(covered, static_cast<uint32_t>(data.size()), 2);
    covered.insert(covered.end(), data.begin(), data.end());
    std::vector<uint8_t> out{kPacketTag};
    out.insert(out.end(), covered.begin(), covered.end());
    AppendLittle(out, Crc32(covered), 4);
    return out;
}

std::optional<size_t> DataPacketSize(std::span<const uint8_t> bytes) {
    if (bytes.size() < 5)
        return std::nullopt;
    return kPacketOverhead + ReadLittle(bytes, 3, 2);
}

DataPacket DecodeDataPacket(std::span<const uint8_t> bytes) {
    DataPacket packet;
    const size_t length = ReadLittle(bytes, 3, 2);
    packet.block = static_cast<uint16_t>(ReadLittle(bytes, 1, 2));
    packet.data.assign(bytes.begin() + 5, bytes.begin() + 5 + static_cast<std::ptrdiff_t>(length));
    packet.crcOk = Crc32(bytes.subspan(1, 4 + length)) == ReadLittle(bytes, 5 + length, 4);
    return packet;
}

} // namespace zvemu
