#include "mcp_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace zvemu {
namespace {

McpFrame DataFrame(uint8_t channel, uint8_t seq, size_t size) {
    McpFrame f;
    f.kind = kMcpDataFrame;
    f.channel = channel;
    f.seq = seq;
    for (size_t i = 0; i < size; ++i)
        f.payload.push_back(static_cast<uint8_t>(i * 7));
    return f;
}

TEST(McpFrame, CrcAndLayoutFollowTheWireFormat) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0xCBF43926u);

    const auto bytes = EncodeMcpFrame(McpFrame::control(9, kMcpRequest, 3));
    ASSERT_EQ(bytes.size(), 15u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 11),
              (std::vector<uint8_t>{'M', 'M', 18, 9, 0, 0, 4, 2, 3, 0, 0}));
    const uint32_t crc = Crc32({bytes.data(), 11});
    EXPECT_EQ(bytes[11], crc >> 24);
    EXPECT_EQ(bytes[14], crc & 0xFF);
}

TEST(McpFrameDecoder, FindsFramesInAnySplitOfTheStream) {
    std::vector<uint8_t> stream;
    for (uint8_t seq = 0; seq < 4; ++seq) {
        const auto bytes = EncodeMcpFrame(DataFrame(30, seq, seq == 3 ? 512 : seq * 100));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    for (size_t piece : {1u, 2u, 5u, 523u, 4096u}) {
        McpFrameDecoder decoder;
        std::vector<McpFrame> frames;
        for (size_t pos = 0; pos < stream.size(); pos += piece) {
            const size_t n = std::min(piece, stream.size() - pos);
            for (auto& f : decoder.Feed({stream.data() + pos, n}))
                frames.push_back(std::move(f));
        }
        ASSERT_EQ(frames.size(), 4u) << "piece " << piece;
        EXPECT_EQ(frames[2].seq, 2);
        EXPECT_EQ(frames[3].payload, DataFrame(30, 3, 512).payload);
    }
}

TEST(McpFrameDecoder, SkipsGarbageBadCrcAndOversizedFrames) {
    std::vector<uint8_t> stream = {'x', 'M'}; // then "MM" of the frame: a run of three
    auto good = EncodeMcpFrame(DataFrame(2, 0, 10));
    stream.insert(stream.end(), good.begin(), good.end());
    auto bad = EncodeMcpFrame(DataFrame(2, 1, 10));
    bad[9] ^= 0x10;
    stream.insert(stream.end(), bad.begin(), bad.end());
    McpFrame huge = DataFrame(2, 2, 513);
    auto oversized = EncodeMcpFrame(huge);
    stream.insert(stream.end(), oversized.begin(), oversized.end());
    auto last = EncodeMcpFrame(McpFrame::control(2, kMcpClose, 0));
    stream.insert(stream.end(), last.begin(), last.end());

    McpFrameDecoder decoder;
    const auto frames = decoder.Feed(stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].seq, 0);
    EXPECT_TRUE(frames[1].isControl());
    EXPECT_EQ(frames[1].controlCode(), kMcpClose);
    EXPECT_EQ(decoder.droppedFrames(), 1u);
}

} // namespace
} // namespace zvemu
