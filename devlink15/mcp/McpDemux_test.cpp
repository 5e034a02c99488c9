#include "McpDemux.h"
#include "McpPipe.h"
#include "McpTestDevice.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace devlink15 {
namespace {

using test::Bytes;
using test::MakeControl;
using test::MakeFrame;

// Keeps every flushed write; the test plays the device by feeding bytes to the receiver itself.
class RecordingLink : public ByteLink {
  public:
    bool PutByte(uint8_t byte) override {
        pending_.push_back(byte);
        return true;
    }
    bool FlushUsbWrite() override {
        std::lock_guard lock(mutex_);
        writes.push_back(pending_);
        pending_.clear();
        return !stopped;
    }
    bool IsStopped() const override { return stopped; }
    Bytes LastWrite() {
        std::lock_guard lock(mutex_);
        return writes.empty() ? Bytes{} : writes.back();
    }

    std::vector<Bytes> writes;
    std::atomic<bool> stopped{false};

  private:
    std::mutex mutex_;
    Bytes pending_;
};

class DemuxTest : public ::testing::Test {
  protected:
    DemuxTest() {
        demux.SetWatchdog(false);
        input.SetTimeout(30);
    }
    void Feed(const Bytes& bytes) { ASSERT_TRUE(demux.ReceiveMcpBytes(bytes.data(), bytes.size())); }
    Bytes ReadAll(size_t count) {
        Bytes data(count);
        const int n = input.Read(data.data(), static_cast<int>(count));
        data.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return data;
    }

    RecordingLink link;
    XMCPDemux demux{&link};
    XMCPOutputPipe output{&demux, 1};
    XMCPInputPipe input{&demux, 2};
};

TEST_F(DemuxTest, FindsFramesSplitAtEveryBoundaryAcrossSequenceWrap) {
    Bytes payload(300);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    const size_t frameSize = MakeFrame(17, 2, 0, payload).size();
    for (size_t cut = 0; cut <= frameSize; ++cut) {
        payload[0] = static_cast<uint8_t>(cut);
        const Bytes frame = MakeFrame(17, 2, static_cast<uint8_t>(cut), payload);
        Feed(Bytes(frame.begin(), frame.begin() + static_cast<long>(cut)));
        Feed(Bytes(frame.begin() + static_cast<long>(cut), frame.end()));
        ASSERT_EQ(ReadAll(payload.size()), payload) << "cut at " << cut;
    }
    // Byte by byte, too.
    const Bytes frame = MakeFrame(17, 2, static_cast<uint8_t>(frameSize + 1), {1, 2, 3});
    for (uint8_t byte : frame)
        Feed({byte});
    EXPECT_EQ(ReadAll(3), (Bytes{1, 2, 3}));
}

TEST_F(DemuxTest, DropsBadCrcAndAcceptsTheSameFrameSentAgain) {
    Bytes bad = MakeFrame(17, 2, 0, {9, 8, 7});
    bad[bad.size() - 1] ^= 0x01;
    Feed(bad);
    EXPECT_EQ(input.ReadByte(), -1);
    Feed(MakeFrame(17, 2, 0, {9, 8, 7}));
    EXPECT_EQ(ReadAll(3), (Bytes{9, 8, 7}));
}

TEST_F(DemuxTest, SyncsOnTheLastTwoOfARunOfM) {
    Bytes bytes{'x', 'M', 'M', 'M'};
    const Bytes frame = MakeFrame(17, 2, 0, {42});
    bytes.insert(bytes.end(), frame.begin() + 2, frame.end());
    Feed(bytes);
    EXPECT_EQ(input.ReadByte(), 42);
}

TEST_F(DemuxTest, DropsOverlongFramesAndUnknownChannels) {
    Feed(MakeFrame(17, 2, 0, Bytes(513, 1)));
    Feed(MakeFrame(18, 1, 0, {2, 0, 0, 0, 0}));
    Feed(MakeFrame(17, 7, 0, {5}));
    McpControlReply reply;
    EXPECT_FALSE(output.Channel().PopMcpControl(reply));
    EXPECT_EQ(input.ReadByte(), -1);
    Feed(MakeFrame(17, 2, 0, {6}));
    EXPECT_EQ(input.ReadByte(), 6);
}

TEST_F(DemuxTest, EmptyDataFrameIsAnnouncedAndAcknowledged) {
    Feed(MakeFrame(17, 2, 0, {}));
    EXPECT_EQ(input.ReadByte(), -1);
    EXPECT_EQ(link.LastWrite(), MakeControl(2, 2, 1)); // asks for frame 1
    Feed(MakeFrame(17, 2, 1, {77}));
    EXPECT_EQ(input.ReadByte(), 77);
}

TEST_F(DemuxTest, DataFrameWhileThePreviousIsNotTakenIsDropped) {
    Feed(MakeFrame(17, 2, 0, {1}));
    Feed(MakeFrame(17, 2, 1, {2}));
    EXPECT_EQ(input.ReadByte(), 1);
    EXPECT_EQ(input.ReadByte(), -1); // frame 1 was lost; it is asked for again
    EXPECT_EQ(link.LastWrite(), MakeControl(2, 2, 1));
    Feed(MakeFrame(17, 2, 1, {2}));
    EXPECT_EQ(input.ReadByte(), 2);
}

TEST_F(DemuxTest, FrameWithAnotherSequenceNumberIsNotAnnounced) {
    Feed(MakeFrame(17, 2, 3, {1}));
    EXPECT_EQ(input.ReadByte(), -1);
    EXPECT_EQ(link.LastWrite(), MakeControl(2, 2, 0));
}

TEST_F(DemuxTest, KeepsFiveControlRepliesAndLosesTheSixth) {
    for (uint8_t seq = 0; seq < 6; ++seq)
        Feed(MakeControl(1, 2, seq));
    McpControlReply reply;
    for (uint8_t seq = 0; seq < 5; ++seq) {
        ASSERT_TRUE(output.Channel().PopMcpControl(reply));
        EXPECT_EQ(reply.seq, seq);
        EXPECT_EQ(reply.code, 2);
    }
    EXPECT_FALSE(output.Channel().PopMcpControl(reply));
}

TEST_F(DemuxTest, CloseDeliversBufferedFrameFirstAndResetReopens) {
    Feed(MakeFrame(17, 2, 0, {'h', 'i'}));
    Feed(MakeControl(2, 5, 0));
    EXPECT_TRUE(input.IsClosed());
    EXPECT_EQ(ReadAll(10), (Bytes{'h', 'i'}));
    EXPECT_EQ(input.ReadByte(), -1);
    Feed(MakeFrame(17, 2, 1, {1})); // nothing is taken while closed
    Feed(MakeControl(2, 4, 0));
    EXPECT_FALSE(input.IsClosed());
    Feed(MakeFrame(17, 2, 0, {3}));
    EXPECT_EQ(input.ReadByte(), 3);
}

TEST_F(DemuxTest, ClosedOutputFailsToFlushAndKeepsNoRequests) {
    output.SetTimeout(30);
    Feed(MakeControl(1, 5, 0));
    Feed(MakeControl(1, 2, 0));
    McpControlReply reply;
    EXPECT_FALSE(output.Channel().PopMcpControl(reply));
    EXPECT_FALSE(output.WriteByte(1));
    EXPECT_EQ(output.Write(reinterpret_cast<const uint8_t*>("ab"), 2), 0);
}

TEST_F(DemuxTest, PeerResetEmptiesTheRingAndRestartsSequence) {
    Feed(MakeFrame(17, 2, 0, {1}));
    EXPECT_EQ(input.ReadByte(), 1);
    Feed(MakeControl(1, 2, 0));
    Feed(MakeControl(1, 4, 0));
    Feed(MakeControl(2, 4, 0));
    McpControlReply reply;
    EXPECT_FALSE(output.Channel().PopMcpControl(reply));
    Feed(MakeFrame(17, 2, 0, {2}));
    EXPECT_EQ(input.ReadByte(), 2);
}

TEST_F(DemuxTest, ChannelNumbersAreTakenOnceAndClosingTellsThePeer) {
    XMCPInputPipe duplicate(&demux, 2);
    EXPECT_TRUE(duplicate.IsClosed()); // not registered: every operation fails
    EXPECT_EQ(duplicate.ReadByte(), -1);
    {
        XMCPInputPipe other(&demux, 40);
        EXPECT_FALSE(other.IsClosed());
    }
    EXPECT_EQ(link.LastWrite(), MakeControl(40, 5, 0));
    Feed(MakeFrame(17, 2, 0, {4})); // the original owner of channel 2 still receives
    EXPECT_EQ(input.ReadByte(), 4);
}

TEST_F(DemuxTest, LinkDownFailsEveryOperation) {
    Feed(MakeFrame(17, 2, 0, {4}));
    link.stopped = true;
    EXPECT_TRUE(demux.IsMcpLinkDown());
    EXPECT_EQ(input.ReadByte(), -1);
    uint8_t buffer[4];
    EXPECT_EQ(input.Read(buffer, 4), -1);
    ASSERT_TRUE(output.WriteByte(1));
    EXPECT_FALSE(output.FlushOutputPipe());
    EXPECT_FALSE(input.SendMcpReset());
}

TEST(DemuxWatchdogTest, SendingWaitsForThePeerWhenSwitchedOn) {
    RecordingLink link;
    XMCPDemux demux(&link);
    EXPECT_FALSE(demux.SendMcpControl(1, 2, 0));
    const Bytes frameStart{'M', 'M'};
    demux.ReceiveMcpBytes(frameStart.data(), frameStart.size());
    EXPECT_TRUE(demux.SendMcpControl(1, 2, 0));
    EXPECT_EQ(link.LastWrite(), MakeControl(1, 2, 0));
}

} // namespace
} // namespace devlink15
