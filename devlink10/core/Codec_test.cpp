#include "BlockCodec.h"
#include "ConsoleFrame.h"
#include "Crc32.h"
#include <gtest/gtest.h>
#include <string_view>

using namespace zvport;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::span<const uint8_t> Span(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A device block: tag, sequence, big-endian length, data, big-endian CRC-32.
std::vector<uint8_t> DeviceBlock(uint8_t tag, uint8_t sequence, std::vector<uint8_t> data) {
    std::vector<uint8_t> block{tag, sequence, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    block.insert(block.end(), data.begin(), data.end());
    uint32_t crc = Crc32(block);
    for (int shift = 24; shift >= 0; shift -= 8)
        block.push_back(static_cast<uint8_t>(crc >> shift));
    return block;
}

} // namespace

TEST(ConsoleFrame, ChecksumAndFrameMatchKnownVectors) {
    EXPECT_EQ(*BuildConsoleFrame("id"), Bytes({0x69, 0x64, 0x0A, 0x6C, 0x01}));
    EXPECT_EQ(*BuildConsoleFrame("id\r\n"), Bytes({0x69, 0x64, 0x0A, 0x6C, 0x01}));
    auto abc = *BuildConsoleFrame("abc");
    EXPECT_EQ(abc[4], 0x46);
    EXPECT_EQ(abc[5], 0x02);
    EXPECT_EQ(*BuildConsoleFrame(""), Bytes({0x0A, 0x00, 0x00}));
    EXPECT_EQ(BuildStartLine("id"), Bytes({0x69, 0x64, 0x0D, 0x0A, 0x6C, 0x01}));
}

TEST(ConsoleFrame, RefusesTextsLongerThanTheFrameBuffer) {
    EXPECT_TRUE(BuildConsoleFrame(std::string(256, 'x')));
    EXPECT_FALSE(BuildConsoleFrame(std::string(257, 'x')));
}

TEST(BlockCodec, CommandBlocksAndPacketsMatchKnownVectors) {
    EXPECT_EQ(Crc32(Span("123456789")), 0xCBF43926u);
    auto start = BuildCommandBlock(BlockCommand::StartTransfer, 0);
    EXPECT_EQ(std::vector<uint8_t>(start.begin(), start.end()),
              Bytes({0x02, 0x00, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0xD4, 0x4C, 0xBC, 0x3F}));
    auto block1 = BuildCommandBlock(BlockCommand::SendBlock, 1);
    EXPECT_EQ(std::vector<uint8_t>(block1.begin(), block1.end()),
              Bytes({0x02, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x01, 0xA7, 0xC6, 0xF0, 0x1B}));
    auto stop = BuildCommandBlock(BlockCommand::Stop, 0);
    EXPECT_EQ(std::vector<uint8_t>(stop.begin(), stop.end()),
              Bytes({0x02, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0xD1, 0x03, 0xAA, 0xBA}));
    EXPECT_EQ(BuildDataPacket(0, Span("abc")),
              Bytes({0x43, 0x00, 0x00, 0x03, 0x00, 0x61, 0x62, 0x63, 0x7E, 0x3D, 0xA9, 0x10}));
}

TEST(DeviceBlockAccumulator, AssemblesBlocksSplitAcrossReads) {
    DeviceBlockAccumulator acc;
    auto block = DeviceBlock(1, 7, {'x', 'y', 'z'});
    EXPECT_FALSE(acc.Add(std::span(block).first(2), 100, 1500));
    EXPECT_FALSE(acc.Add(std::span(block).subspan(2, 5), 200, 1500));
    auto message = acc.Add(std::span(block).subspan(7), 300, 1500);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->type, MessageType::DataBlock);
    EXPECT_EQ(message->parameter, 7u);
    EXPECT_EQ(message->data, Bytes({'x', 'y', 'z'}));
    EXPECT_EQ(acc.Size(), 0u);

    auto accept = DeviceBlock(2, 0, {0x00, 0x01});
    message = acc.Add(accept, 400, 1500);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->type, MessageType::CommandBlock);
    EXPECT_EQ(message->parameter, 1u);
}

TEST(DeviceBlockAccumulator, DropsBadCrcStaleBytesAndForeignTags) {
    DeviceBlockAccumulator acc;
    auto block = DeviceBlock(1, 0, {'a', 'b', 'c'});
    auto corrupted = block;
    corrupted[4] ^= 0xFF;
    EXPECT_FALSE(acc.Add(corrupted, 100, 1500));
    EXPECT_EQ(acc.Size(), 0u);

    EXPECT_FALSE(acc.Add(std::span(block).first(3), 200, 1500));
    // The rest arrives after the acknowledge time-out: the old half is gone, the tail is no block.
    EXPECT_FALSE(acc.Add(std::span(block).subspan(3), 2000, 1500));
    EXPECT_EQ(acc.Size(), 0u);

    size_t used = 99;
    EXPECT_FALSE(acc.Add(Span("Ready >"), 3000, 1500, &used));
    EXPECT_EQ(acc.Size(), 0u);
    EXPECT_EQ(used, 0u);
}

TEST(DeviceBlockAccumulator, TakesOneBlockAndLeavesTheTextAfterIt) {
    DeviceBlockAccumulator acc;
    auto bytes = DeviceBlock(1, 3, {});
    const size_t blockSize = bytes.size();
    for (char c : std::string("Ready >\r\n"))
        bytes.push_back(static_cast<uint8_t>(c));
    size_t used = 0;
    auto message = acc.Add(bytes, 100, 1500, &used);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->type, MessageType::DataBlock);
    EXPECT_TRUE(message->data.empty());
    EXPECT_EQ(used, blockSize);
    EXPECT_EQ(acc.Size(), 0u);
}
