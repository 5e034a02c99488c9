// The USB access and the MCP link over the test USB driver and the device emulator.
#include "EmulatorSession.h"
#include "McpLink.h"
#include "UsbDevices.h"
#include "WinMcpPlatform.h"

#include <gtest/gtest.h>

#include <thread>

namespace devlink15 {
namespace {

using test::PluggedDevice;

bool WaitUntil(DWORD timeoutMs, const auto& condition) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(20);
    }
    return true;
}

TEST(UsbDevicesTest, NumbersDevicesAndReadsTheirInformation) {
    REQUIRE_EMULATOR();
    PluggedDevice first(0, "T15NUMBER001", "N000001");
    PluggedDevice second(1, "T15NUMBER002", "N000002", "type=C");
    ASSERT_EQ(first.Number(), 0);
    ASSERT_EQ(second.Number(), 1);

    EXPECT_EQ(FindDeviceClassByIndex(0), 2);
    EXPECT_EQ(FindDeviceClassByIndex(1), 2);
    EXPECT_EQ(FindDeviceClassByIndex(2), -1);
    EXPECT_EQ(FindDeviceClassByIndex(-1), -1);
    EXPECT_EQ(CountUsbDevices(), 2);

    UsbDeviceInfo info;
    ASSERT_TRUE(QueryUsbDeviceInfo(1, info));
    EXPECT_EQ(info.type, 0);
    EXPECT_EQ(info.deviceId, "T15NUMBER002");
    EXPECT_EQ(info.shortId, "N000002");
    ASSERT_TRUE(QueryUsbDeviceInfo(0, info));
    EXPECT_EQ(info.type, 1);
    EXPECT_FALSE(QueryUsbDeviceInfo(2, info));
    EXPECT_EQ(FindDeviceById("T15NUMBER002"), 1);
    EXPECT_EQ(FindDeviceById("T15NUMBER00"), -1);

    // The numbers close up when the first device goes away.
    test::SharedEmulator().Unplug(0, first.Id());
    EXPECT_EQ(FindDeviceById("T15NUMBER002"), 0);
    EXPECT_EQ(CountUsbDevices(), 1);
    test::SharedEmulator().Plug(0, first.Id(), first.ShortId());
}

TEST(McpLinkTest, ClaimsTheDeviceOncePerSystem) {
    REQUIRE_EMULATOR();
    PluggedDevice device(0, "T15CLAIM0001", "C000001");
    ASSERT_EQ(device.Number(), 0);
    XMCPLink first(WinMcpPlatform::Instance());
    XMCPLink second(WinMcpPlatform::Instance());
    ASSERT_TRUE(first.ConnectMcpLink(0));
    EXPECT_FALSE(second.ConnectMcpLink(0));
    EXPECT_FALSE(first.Demux().IsMcpLinkDown());
    EXPECT_TRUE(first.DisconnectMcpLink());
    EXPECT_TRUE(second.ConnectMcpLink(0));
    EXPECT_FALSE(XMCPLink(WinMcpPlatform::Instance()).ConnectMcpLink(3));
}

TEST(McpLinkTest, ReopensAfterAResetAndGoesDownWhenTheDeviceLeaves) {
    REQUIRE_EMULATOR();
    PluggedDevice device(0, "T15RESET0001", "R000001");
    ASSERT_EQ(device.Number(), 0);
    XMCPLink link(WinMcpPlatform::Instance());
    ASSERT_TRUE(link.ConnectMcpLink(0));

    ASSERT_EQ(device.Request("reset"), "ok");
    Sleep(1000);
    EXPECT_FALSE(link.Demux().IsMcpLinkDown()) << "the same device is reopened";

    // A different device in its place brings the link down.
    ASSERT_EQ(device.Request("reset id=T15RESET0002 short=R000002"), "ok");
    EXPECT_TRUE(WaitUntil(15000, [&] { return link.Demux().IsMcpLinkDown(); }));
    link.DisconnectMcpLink();

    XMCPLink again(WinMcpPlatform::Instance());
    ASSERT_GE(test::WaitForDevice("T15RESET0002", true), 0);
    ASSERT_TRUE(again.ConnectMcpLink(0));
    device.Request("unplug");
    EXPECT_TRUE(WaitUntil(15000, [&] { return again.Demux().IsMcpLinkDown(); }));
}

// A device that arrives later than a loaded machine once took to show a plug (over ten seconds) is
// still awaited: the wait ends on its arrival.
TEST(EmulatorSessionTest, AwaitsADeviceThatArrivesLate) {
    REQUIRE_EMULATOR();
    const std::string id = "T15LATEPLUG1";
    std::thread plugger([&] {
        Sleep(12000);
        test::SharedEmulator().Plug(0, id, "L000001");
    });
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(test::WaitForDevice(id, true), 0);
    EXPECT_GE(GetTickCount64() - started, 11000u);
    plugger.join();
    test::SharedEmulator().Unplug(0, id);
    EXPECT_EQ(FindDeviceById(id), -1);
}

} // namespace
} // namespace devlink15
