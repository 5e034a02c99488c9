#include "BlockCodec.h"
#include "Crc32.h"
#include <algorithm>

namespace zvport {
namespace {

constexpr uint8_t kDataBlockTag = 1;
constexpr uint8_t kCommandBlockTag = 2;

void PutBigEndian32(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

void AppendLittleEndian16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

} // namespace

CommandBlock BuildCommandBlock(BlockCommand command, uint16_t argument) {
    auto code = static_cast<uint16_t>(command);
    CommandBlock block{kCommandBlockTag, 0x00, 0x00, 0x04,
                       static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code),
                       static_cast<uint8_t>(argument >> 8), static_cast<uint8_t>(argument)};
    PutBigEndian32(&block[8], Crc32(std::span<const uint8_t>(block.data(), 8)));
    return block;
}

std::vector<uint8_t> BuildDataPacket(uint16_t blockNumber, std::span<const uint8_t> data) {
    std::vector<uint8_t> packet;
    packet.reserve(data.size() + 9);
    packet.push_back('C');
    AppendLittleEndian16(packet, blockNumber);
    AppendLittleEndian16(packet, static_cast<uint16_t>(data.size()));
    packet.insert(packet.end(), data.begin(), data.end());
    uint32_t crc = Crc32(std::span<const uint8_t>(packet).subspan(1));
    for (int i = 0; i < 4; ++i)
        packet.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    return packet;
}

void DeviceBlockAccumulator::Clear() {
    fill_ = 0;
    lastAddMs_ = 0;
}

std::optional<DeviceMessage> DeviceBlockAccumulator::Add(std::span<const uint8_t> bytes, uint64_t nowMs,
                                                         uint32_t staleAfterMs, size_t* used) {
    if (nowMs - lastAddMs_ > staleAfterMs)
        fill_ = 0;
    lastAddMs_ = nowMs;

    // Bytes are taken up to the end of one block; a block starts only with one of the two tags.
    size_t taken = 0;
    const auto wanted = [this]() -> size_t { return fill_ < 4 ? 4 : ((size_t{buffer_[2]} << 8) | buffer_[3]) + 8; };
    while (taken < bytes.size() && fill_ < kCapacity) {
        if (fill_ == 0 && bytes[taken] != kDataBlockTag && bytes[taken] != kCommandBlockTag)
            break;
        buffer_[fill_++] = bytes[taken++];
        if (fill_ >= 4 && fill_ == wanted())
            break;
    }
    if (used)
        *used = taken;

    if (fill_ < 4 || fill_ < wanted())
        return std::nullopt;
    const size_t length = wanted() - 8;
    std::optional<DeviceMessage> message;
    uint32_t expected = Crc32(std::span<const uint8_t>(buffer_.data(), 4 + length));
    const uint8_t* c = &buffer_[4 + length];
    uint32_t received = (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
    if (expected == received) {
        message.emplace();
        if (buffer_[0] == kCommandBlockTag) {
            message->type = MessageType::CommandBlock;
            message->parameter = length >= 2 ? buffer_[5] : 0;
        } else {
            message->type = MessageType::DataBlock;
            message->parameter = buffer_[1];
            message->data.assign(buffer_.begin() + 4, buffer_.begin() + 4 + length);
        }
    }
    fill_ = 0;
    return message;
}

} // namespace zvport
