// Pipes end to end over an in-memory USB link with a scripted device on the other side.
#include "McpLink.h"
#include "McpTestDevice.h"

#include <gtest/gtest.h>

#include <future>
#include <numeric>

namespace devlink15 {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::HostFrame;

Bytes Pattern(size_t size, unsigned seed) {
    Bytes data(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& byte : data) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

long MillisecondsSince(McpClock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(McpClock::now() - start).count());
}

class PipeTest : public ::testing::Test {
  protected:
    PipeTest() {
        platform.AddDevice(1, UsbDeviceInfo{1, "0123456789AB", "ABCDEFG"}, &device);
        EXPECT_TRUE(link.ConnectMcpLink(1));
    }
    PipeRecord* Open(int number, uint32_t timeout) {
        PipeRecord* pipe = link.PipeFactory().OpenPipe("std", number);
        EXPECT_NE(pipe, nullptr);
        if (pipe != nullptr) {
            pipe->Input().SetTimeout(timeout);
            pipe->Output().SetTimeout(timeout);
        }
        return pipe;
    }
    static std::vector<HostFrame> DataFrames(const std::vector<HostFrame>& frames, uint8_t channel) {
        std::vector<HostFrame> data;
        for (const HostFrame& frame : frames)
            if (frame.kind == kMcpDataFrame && frame.channel == channel)
                data.push_back(frame);
        return data;
    }
    Bytes ReadExactly(IInputPipe& input, size_t count, std::chrono::milliseconds limit) {
        Bytes data(count);
        size_t have = 0;
        const auto start = McpClock::now();
        while (have < count && McpClock::now() - start < limit) {
            const int n = input.Read(data.data() + have, static_cast<int>(count - have));
            if (n < 0)
                break;
            have += static_cast<size_t>(n);
        }
        data.resize(have);
        return data;
    }

    test::ScriptedDevice device;
    test::TestPlatform platform;
    XMCPLink link{platform};
};

TEST_F(PipeTest, FlushSendsFullFramesOnlyWhenTheDeviceAsks) {
    // The device asks once and then only by acknowledging. A repeated request for a frame
    // already sent but not yet taken in (a slow device thread) rightly makes the host send that
    // frame again, which would add a frame to the count below.
    device.requestPeriodMs = 100000;
    PipeRecord* pipe = Open(15, 200);
    const Bytes data = Pattern(1300, 1);
    // Nobody asks yet: the flush times out and keeps the bytes.
    EXPECT_EQ(pipe->Output().Write(data.data(), 100), 100);
    auto start = McpClock::now();
    EXPECT_FALSE(pipe->Output().FlushOutputPipe());
    EXPECT_GE(MillisecondsSince(start), 150);
    EXPECT_TRUE(DataFrames(device.HostFrames(), 29).empty());

    device.Accept(15, true);
    EXPECT_EQ(pipe->Output().Write(data.data() + 100, 1200), 1200);
    ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    EXPECT_EQ(device.Received(15), data);
    const auto frames = DataFrames(device.HostFrames(), 29);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].length, 512u);
    EXPECT_EQ(frames[1].length, 512u);
    EXPECT_EQ(frames[2].length, 276u);
    for (uint8_t i = 0; i < 3; ++i)
        EXPECT_EQ(frames[i].seq, i);
}

TEST_F(PipeTest, RequestForTheNextFrameOpensTheFollowingFlushAtOnce) {
    device.requestPeriodMs = 100000; // the device asks once, then only by acknowledging
    PipeRecord* pipe = Open(15, 500);
    device.Accept(15, true);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pipe->Output().WriteByte(static_cast<uint8_t>('a' + i)));
        ASSERT_TRUE(pipe->Output().FlushOutputPipe()) << i;
    }
    EXPECT_EQ(device.Received(15), (Bytes{'a', 'b', 'c'}));
}

TEST_F(PipeTest, FinalAcknowledgementEndsTheFlush) {
    device.requestPeriodMs = 100000;
    device.finalAcks = true;
    PipeRecord* pipe = Open(15, 200);
    device.Accept(15, true);
    ASSERT_TRUE(pipe->Output().WriteByte('x'));
    ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    // No request for the next frame came: the next flush waits in vain and keeps its byte.
    ASSERT_TRUE(pipe->Output().WriteByte('y'));
    EXPECT_FALSE(pipe->Output().FlushOutputPipe());
    device.Accept(15, true);
    ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    EXPECT_EQ(device.Received(15), (Bytes{'x', 'y'}));
}

TEST_F(PipeTest, BulkDataBothWaysSurvivesLossCorruptionAndSplitChunks) {
    platform.splitMax = 37;
    PipeRecord* pipe = Open(100, 300);
    const Bytes up = Pattern(150000, 2); // > 256 frames: sequence numbers wrap
    const Bytes down = Pattern(140000, 3);
    device.QueueData(100, down);
    device.Accept(100, true);
    device.corruptToHost = 3;
    device.dropToHost = 2;
    device.dropDataFromHost = 2;
    device.dropRequestsFromHost = 2;

    auto reader =
        std::async(std::launch::async, [&] { return ReadExactly(pipe->Input(), down.size(), 60s); });
    size_t sent = 0;
    const auto start = McpClock::now();
    while (sent < up.size() && McpClock::now() - start < 60s) {
        const int n =
            pipe->Output().Write(up.data() + sent, static_cast<int>(std::min<size_t>(256, up.size() - sent)));
        sent += static_cast<size_t>(n);
    }
    while (!pipe->Output().FlushOutputPipe() && McpClock::now() - start < 60s) {
    }
    EXPECT_EQ(reader.get(), down);
    ASSERT_TRUE(device.WaitReceived(100, up.size(), 10s));
    EXPECT_EQ(device.Received(100), up);
}

TEST_F(PipeTest, ReadTimesOutThenDeliversWhatArrivesLater) {
    PipeRecord* pipe = Open(5, 200);
    const auto start = McpClock::now();
    EXPECT_EQ(pipe->Input().ReadByte(), -1);
    EXPECT_GE(MillisecondsSince(start), 150);
    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_FALSE(pipe->Input().ReadLong().has_value());
    device.QueueData(5, {0x00, 0x07, 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(pipe->Input().ReadWord(), std::optional<uint16_t>(7));
    EXPECT_EQ(pipe->Input().ReadLong(), std::optional<uint32_t>(0x12345678));
}

TEST_F(PipeTest, NoTimeOutWaitsUntilDataComes) {
    PipeRecord* pipe = Open(5, 0);
    auto later = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(300ms);
        device.QueueData(5, {0xAB});
        device.Accept(5, true);
    });
    EXPECT_EQ(pipe->Input().ReadByte(), 0xAB);
    ASSERT_TRUE(pipe->Output().WriteByte(0x55));
    EXPECT_TRUE(pipe->Output().FlushOutputPipe());
    later.get();
}

TEST_F(PipeTest, ReplyEndsWhenTheDeviceClosesThePipe) {
    PipeRecord* pipe = Open(15, 1000);
    const char reply[] = "Ready >";
    device.QueueData(15, Bytes(reply, reply + sizeof reply));
    device.CloseWhenDrained(15);
    char text[200];
    EXPECT_EQ(pipe->Input().ReadString(text, 200), 7);
    EXPECT_STREQ(text, "Ready >");
    const auto start = McpClock::now();
    while (!pipe->IsClosed() && McpClock::now() - start < 2s)
        pipe->Input().ReadByte();
    EXPECT_TRUE(pipe->IsClosed());
    EXPECT_EQ(pipe->Input().ReadByte(), -1);
    EXPECT_EQ(pipe->Input().ReadString(text, 200), 0);
}

TEST_F(PipeTest, DeviceRestartOfAPipeStartsBothSequencesAgain) {
    PipeRecord* pipe = Open(1, 500);
    device.Accept(1, true);
    device.QueueData(1, Pattern(1100, 4));
    EXPECT_EQ(ReadExactly(pipe->Input(), 1100, 5s), Pattern(1100, 4));
    ASSERT_TRUE(pipe->Output().WriteString("first"));
    ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    std::this_thread::sleep_for(100ms); // let the device take repeated copies of the last frame

    device.RestartPipe(1);
    std::this_thread::sleep_for(100ms);
    device.Accept(1, true);
    device.QueueData(1, {'o', 'k'});
    EXPECT_EQ(ReadExactly(pipe->Input(), 2, 5s), (Bytes{'o', 'k'}));
    ASSERT_TRUE(pipe->Output().WriteString("again"));
    ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    const Bytes expected{'f', 'i', 'r', 's', 't', 0, 'a', 'g', 'a', 'i', 'n', 0};
    EXPECT_EQ(device.Received(1), expected);
}

TEST_F(PipeTest, ResetIsSentOnBothChannels) {
    PipeRecord* pipe = Open(1, 500);
    EXPECT_TRUE(pipe->Input().SendMcpReset());
    EXPECT_TRUE(pipe->Output().SendMcpReset());
    auto isReset = [](uint8_t channel) {
        return [channel](const HostFrame& f) {
            return f.kind == kMcpControlFrame && f.channel == channel && f.code == 4;
        };
    };
    EXPECT_TRUE(device.WaitHostFrame(isReset(1), 2s));
    EXPECT_TRUE(device.WaitHostFrame(isReset(2), 2s));
}

TEST_F(PipeTest, KeepAliveStopsOnCloseAndWorksAfterReopening) {
    PipeRecord* pipe = Open(5, 1000);
    device.Accept(5, true);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pipe->Output().WriteByte(0xAA));
        ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    }
    ASSERT_TRUE(pipe->Output().WriteByte(0xAA));
    device.SendControl(9, kMcpCloseChannel, 0);
    const auto start = McpClock::now();
    while (!pipe->IsClosed() && McpClock::now() - start < 2s)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(pipe->IsClosed());
    EXPECT_FALSE(pipe->Output().FlushOutputPipe());
    EXPECT_FALSE(pipe->Output().WriteByte(0xAA));

    ASSERT_TRUE(link.PipeFactory().ClosePipe(pipe));
    device.RestartPipe(5);
    pipe = Open(5, 1000);
    device.Accept(5, true);
    ASSERT_TRUE(pipe->Output().WriteByte(0xAA));
    ASSERT_TRUE(pipe->Output().FlushOutputPipe());
    EXPECT_EQ(device.Received(5), Bytes(4, 0xAA));
}

TEST_F(PipeTest, UnpluggedDeviceEndsWaitsWithoutLimitPromptly) {
    PipeRecord* pipe = Open(1, 0);
    ASSERT_TRUE(pipe->Output().WriteByte(1));
    auto reader = std::async(std::launch::async, [&] { return pipe->Input().ReadByte(); });
    auto flusher = std::async(std::launch::async, [&] { return pipe->Output().FlushOutputPipe(); });
    std::this_thread::sleep_for(100ms);
    const auto start = McpClock::now();
    device.Unplug();
    EXPECT_EQ(reader.get(), -1);
    EXPECT_FALSE(flusher.get());
    EXPECT_LT(MillisecondsSince(start), 1500);
    EXPECT_TRUE(link.Demux().IsMcpLinkDown());
}

} // namespace
} // namespace devlink15
