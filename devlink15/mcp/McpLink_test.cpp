#include "McpLink.h"
#include "McpTestDevice.h"

#include <gtest/gtest.h>

namespace devlink15 {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::HostFrame;

class LinkTest : public ::testing::Test {
  protected:
    LinkTest() {
        platform.AddDevice(1, UsbDeviceInfo{1, "0123456789AB", "ABCDEFG"}, &device);
        platform.AddDevice(2, UsbDeviceInfo{1, "BA9876543210", "GFEDCBA"}, &other);
    }
    test::ScriptedDevice device;
    test::ScriptedDevice other;
    test::TestPlatform platform;
};

TEST_F(LinkTest, PipeNumbersAreBoundedAndOpenOncePerLink) {
    XMCPLink link(platform);
    ASSERT_TRUE(link.ConnectMcpLink(1));
    XMCPPipeFactory& factory = link.PipeFactory();
    EXPECT_EQ(factory.OpenPipe("std", 0), nullptr);
    EXPECT_EQ(factory.OpenPipe("std", 126), nullptr);
    PipeRecord* first = factory.OpenPipe("std", 15);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Number(), 15);
    EXPECT_EQ(first->Name(), "std");
    EXPECT_STREQ(first->ClassName(), "IPipe");
    EXPECT_STREQ(factory.ClassName(), "XMCPPipeFactory");
    EXPECT_EQ(factory.OpenPipe("std", 15), nullptr);
    EXPECT_NE(factory.OpenPipe("std", 125), nullptr);
    EXPECT_EQ(factory.OpenPipeCount(), 2u);

    // A lookup is a use of its own; giving it back leaves the pipe open.
    EXPECT_EQ(factory.FindPipe(15), first);
    EXPECT_FALSE(factory.ClosePipe(first));
    EXPECT_FALSE(first->IsClosed());
    EXPECT_EQ(factory.FindPipe(16), nullptr);
    EXPECT_TRUE(factory.ClosePipe(first));
    EXPECT_FALSE(factory.ClosePipe(first));
    EXPECT_EQ(factory.OpenPipeCount(), 1u);

    auto closes = [](uint8_t channel) {
        return [channel](const HostFrame& f) {
            return f.kind == kMcpControlFrame && f.channel == channel && f.code == 5;
        };
    };
    EXPECT_TRUE(device.WaitHostFrame(closes(29), 2s));
    EXPECT_TRUE(device.WaitHostFrame(closes(30), 2s));
    EXPECT_NE(factory.OpenPipe("std", 15), nullptr); // the number is free again
}

TEST_F(LinkTest, DestroyingTheLinkClosesItsPipesAndReleasesEverything) {
    {
        XMCPLink link(platform);
        EXPECT_EQ(platform.timerHolds, 1);
        ASSERT_TRUE(link.ConnectMcpLink(1));
        ASSERT_NE(link.PipeFactory().OpenPipe("std", 1), nullptr);
    }
    EXPECT_EQ(platform.timerHolds, 0);
    auto closesConsole = [](const HostFrame& f) { return f.channel == 2 && f.code == 5; };
    EXPECT_TRUE(device.WaitHostFrame(closesConsole, 2s));
    XMCPLink again(platform);
    EXPECT_TRUE(again.ConnectMcpLink(1));
}

TEST_F(LinkTest, DeviceIsClaimedByOneLinkAtATime) {
    XMCPLink first(platform);
    XMCPLink second(platform);
    ASSERT_TRUE(first.ConnectMcpLink(1));
    EXPECT_TRUE(first.ConnectMcpLink(1)); // already connected
    EXPECT_FALSE(second.ConnectMcpLink(1));
    EXPECT_FALSE(second.IsConnected());
    EXPECT_TRUE(second.ConnectMcpLink(2)); // another device is free
    EXPECT_TRUE(second.DisconnectMcpLink());
    EXPECT_TRUE(first.DisconnectMcpLink());
    EXPECT_FALSE(first.IsConnected());
    EXPECT_TRUE(second.ConnectMcpLink(1));
}

TEST_F(LinkTest, FailedConnectionsHoldNoClaim) {
    XMCPLink link(platform);
    EXPECT_FALSE(link.ConnectMcpLink(7)); // no such device
    platform.failOpens = 1;
    EXPECT_FALSE(link.ConnectMcpLink(1));
    EXPECT_FALSE(link.IsConnected());
    XMCPLink other(platform);
    EXPECT_TRUE(other.ConnectMcpLink(1));
}

TEST_F(LinkTest, ReconnectedLinkCarriesDataAgain) {
    XMCPLink link(platform);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(link.ConnectMcpLink(1)) << round;
        PipeRecord* pipe = link.PipeFactory().OpenPipe("std", 15);
        ASSERT_NE(pipe, nullptr);
        pipe->Input().SetTimeout(2000);
        pipe->Input().SendMcpReset();
        device.RestartPipe(15);
        device.QueueData(15, {static_cast<uint8_t>(round)});
        EXPECT_EQ(pipe->Input().ReadByte(), round);
        EXPECT_TRUE(link.PipeFactory().ClosePipe(pipe));
        EXPECT_TRUE(link.DisconnectMcpLink());
        EXPECT_TRUE(link.Demux().IsMcpLinkDown());
    }
}

TEST_F(LinkTest, TwoDevicesCarryTheirOwnData) {
    XMCPLink a(platform);
    XMCPLink b(platform);
    ASSERT_TRUE(a.ConnectMcpLink(1));
    ASSERT_TRUE(b.ConnectMcpLink(2));
    PipeRecord* pa = a.PipeFactory().OpenPipe("std", 1);
    PipeRecord* pb = b.PipeFactory().OpenPipe("std", 1);
    ASSERT_TRUE(pa && pb);
    pa->Input().SetTimeout(2000);
    pb->Input().SetTimeout(2000);
    device.QueueData(1, {'a'});
    other.QueueData(1, {'b'});
    EXPECT_EQ(pb->Input().ReadByte(), 'b');
    EXPECT_EQ(pa->Input().ReadByte(), 'a');
}

TEST(PipeFactoryTest, RecordsWithoutHalvesHandOutNullPipes) {
    XPipeFactory factory;
    EXPECT_STREQ(factory.ClassName(), "XPipeFactory");
    PipeRecord* record = factory.OpenPipe("plain", 3);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->Input().IsClosed());
    EXPECT_EQ(record->Input().ReadByte(), -1);
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(record->Output().Write(bytes, 3), 3);
    EXPECT_TRUE(record->Output().FlushOutputPipe());
    EXPECT_TRUE(record->IsClosed());
    EXPECT_LT(record->Input().Serial(), record->Output().Serial());
    EXPECT_TRUE(factory.ClosePipe(record));
}

} // namespace
} // namespace devlink15
