// Byte formats of the serial link to a 1.0 device: console frames from the PC (text, LF and a
// 16-bit rotating checksum), the PC's 12-byte command blocks and "C" data packets, and the
// device's checked blocks. Both checks of the blocks are the IEEE CRC-32 of mcp_frame.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zvemu {

constexpr uint8_t kConfirmAccepted = 0x02;
constexpr uint8_t kConfirmRefused = 0x01;
constexpr uint8_t kDeviceDataBlock = 1;
constexpr uint8_t kDeviceCommandBlock = 2;
constexpr uint8_t kPacketTag = 'C';
constexpr size_t kCommandBlockSize = 12;
constexpr size_t kPacketOverhead = 9; // "C", block number, length, CRC

enum class BlockCommand : uint16_t { Stop = 2, SendBlock = 3, Start = 5 };

uint16_t ConsoleChecksum(std::string_view text);
// The frame the PC sends for a console text: the text, LF, checksum low byte first.
std::vector<uint8_t> EncodeConsoleFrame(std::string_view text);

struct CommandBlock {
    uint16_t code = 0;
    uint16_t argument = 0;
};
std::vector<uint8_t> EncodeCommandBlock(CommandBlock block);
// Decodes exactly 12 bytes; nothing when the shape or the CRC is wrong.
std::optional<CommandBlock> DecodeCommandBlock(std::span<const uint8_t> bytes);

// Tag, sequence byte, big-endian length, data, big-endian CRC-32 of everything before it.
std::vector<uint8_t> EncodeDeviceBlock(uint8_t tag, uint8_t sequence, std::span<const uint8_t> data);

struct DataPacket {
    uint16_t block = 0;
    std::vector<uint8_t> data;
    bool crcOk = false;
};
std::vector<uint8_t> EncodeDataPacket(uint16_t block, std::span<const uint8_t> data);
// Size of the packet at the front of `bytes` once its header is there (nothing before that).
std::optional<size_t> DataPacketSize(std::span<const uint8_t> bytes);
// Decodes one whole packet of DataPacketSize bytes.
DataPacket DecodeDataPacket(std::span<const uint8_t> bytes);

} // namespace zvemu
