#include "McpFrame.h"
#include "McpTestDevice.h"
#include "UsbDeviceInfo.h"

#include <gtest/gtest.h>

#include <cstring>

namespace devlink15 {
namespace {

using test::Bytes;

TEST(McpFrameTest, CrcIsTheStandardReflectedCrc32) {
    const char* check = "123456789";
    EXPECT_EQ(McpCrc32(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
    Bytes noise(1000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 37 + 11);
    EXPECT_EQ(McpCrc32(noise.data(), noise.size()), test::BitwiseCrc32(noise.data(), noise.size()));
}

TEST(McpFrameTest, EncodesHeaderPayloadAndBigEndianCrc) {
    for (size_t length : {0u, 1u, 276u, 512u}) {
        Bytes payload(length);
        for (size_t i = 0; i < length; ++i)
            payload[i] = static_cast<uint8_t>(i ^ 0x5A);
        McpEncodedFrame frame;
        ASSERT_TRUE(EncodeMcpFrame(kMcpDataFrame, 201, 255, payload.data(), length, frame));
        const Bytes expected = test::MakeFrame(kMcpDataFrame, 201, 255, payload);
        EXPECT_EQ(Bytes(frame.bytes.begin(), frame.bytes.begin() + static_cast<long>(frame.size)), expected);
    }
    McpEncodedFrame frame;
    const uint8_t control[4] = {2, 7, 0, 0};
    ASSERT_TRUE(EncodeMcpFrame(kMcpControlFrame, 10, 0, control, 4, frame));
    EXPECT_EQ(frame.size, 15u);
    EXPECT_EQ(Bytes(frame.bytes.begin(), frame.bytes.begin() + 7), (Bytes{'M', 'M', 18, 10, 0, 0, 4}));
}

TEST(McpFrameTest, RefusesOversizedPayloadsAndUnknownKinds) {
    Bytes payload(513);
    McpEncodedFrame frame;
    EXPECT_FALSE(EncodeMcpFrame(kMcpDataFrame, 1, 0, payload.data(), 513, frame));
    EXPECT_FALSE(EncodeMcpFrame(kMcpControlFrame, 1, 0, payload.data(), 5, frame));
    EXPECT_FALSE(EncodeMcpFrame(19, 1, 0, payload.data(), 1, frame));
    EXPECT_EQ(kMcpMaxFrameSize, 523u);
}

TEST(UsbDeviceInfoTest, ParsesTypeDeviceIdAndShortId) {
    const char16_t* text = u"T0123456789ABxxSHORT01";
    uint8_t record[kUsbDeviceInfoBytes];
    for (int i = 0; i < 22; ++i) {
        record[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        record[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    UsbDeviceInfo info = ParseUsbDeviceInfo(record);
    EXPECT_EQ(info.type, 1);
    EXPECT_EQ(info.deviceId, "0123456789AB");
    EXPECT_EQ(info.shortId, "SHORT01");

    record[0] = 'C';
    record[2 * 18] = 0; // a zero character ends the short id early
    info = ParseUsbDeviceInfo(record);
    EXPECT_EQ(info.type, 0);
    EXPECT_EQ(info.shortId, "SHO");
    EXPECT_EQ(DeviceClaimName("SHORT01"), "{46FD48E3-FCBA-45d6-942F-B44EAC7F97A5}@SHORT01");
}

TEST(UsbDeviceInfoTest, NumbersLoaderInterfacesFirstThenDeviceInterfaces) {
    const std::array<bool, 4> loader{true, false, false, false};
    const std::array<bool, 4> device{true, true, false, false};
    auto slot = MapDeviceNumber(loader, device, 0);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->interfaceClass, UsbInterfaceClass::Loader);
    slot = MapDeviceNumber(loader, device, 2);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->interfaceClass, UsbInterfaceClass::Device);
    EXPECT_EQ(slot->interfaceIndex, 1);
    EXPECT_FALSE(MapDeviceNumber(loader, device, 3));
    EXPECT_FALSE(MapDeviceNumber(loader, device, -1));
}

} // namespace
} // namespace devlink15
