// The block protocol's framings: 12-byte command blocks and "C" data packets from the PC, and
// the accumulator that finds checked blocks in the device's byte stream.
#pragma once
#include "PortProtocol.h"
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zvport {

enum class BlockCommand : uint16_t {
    Stop = 2,
    SendBlock = 3,
    StartTransfer = 5,
};

using CommandBlock = std::array<uint8_t, 12>;

CommandBlock BuildCommandBlock(BlockCommand command, uint16_t argument);

// "C", block number and length little-endian, the data, and a CRC-32 over number, length and data.
std::vector<uint8_t> BuildDataPacket(uint16_t blockNumber, std::span<const uint8_t> data);

// Collects device bytes into one block (tag, sequence, big-endian length, data, big-endian CRC-32).
class DeviceBlockAccumulator {
public:
    static constexpr size_t kCapacity = 4096;

    // Adds bytes that arrived at nowMs. Bytes of an unfinished block older than staleAfterMs are
    // dropped first. Gives the message of a complete block whose CRC matches; a complete block
    // empties the buffer whether it matched or not. Takes bytes only up to the end of one block,
    // and none while no block is begun and the next byte is no block tag; `used` receives how
    // many were taken, so that the caller reads the rest (text after a block) itself.
    std::optional<DeviceMessage> Add(std::span<const uint8_t> bytes, uint64_t nowMs, uint32_t staleAfterMs,
                                     size_t* used = nullptr);
    void Clear();
    size_t Size() const { return fill_; }

private:
    std::array<uint8_t, kCapacity> buffer_{};
    size_t fill_ = 0;
    uint64_t lastAddMs_ = 0;
};

} // namespace zvport
