#include "DeviceImage.h"

#include <gtest/gtest.h>

namespace tv::package {
namespace {

uint32_t Little32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

TEST(DeviceImageTest, TwoBitImageBecomesFourBitRowsPaddedToFourBytes) {
    // 3 x 2 pixels at (10,20)-(13,22): rows of 1 source byte.
    const std::vector<uint8_t> image{2, 0, 0, 0, 10, 20, 13, 22, 0b00011011, 0b11100100};
    DeviceBitmap bitmap;
    ASSERT_TRUE(ConvertDeviceImage(image, bitmap));
    EXPECT_EQ(bitmap.width, 3);
    EXPECT_EQ(bitmap.height, 2);
    EXPECT_EQ(bitmap.bitsPerPixel, 4);
    EXPECT_EQ(bitmap.bits, (std::vector<uint8_t>{0x01, 0x20, 0, 0, 0x32, 0x10, 0, 0}));
    EXPECT_EQ(bitmap.palette, (std::vector<uint32_t>{0xFFFFFF, 0xA0A0A0, 0x808080, 0x000000}));
    ASSERT_EQ(bitmap.header.size(), 40u + 16u);
    EXPECT_EQ(Little32(bitmap.header, 0), 40u);
    EXPECT_EQ(Little32(bitmap.header, 4), 3u);
    EXPECT_EQ(static_cast<int32_t>(Little32(bitmap.header, 8)), -2); // top-down
    EXPECT_EQ(bitmap.header[12], 1);                                 // planes
    EXPECT_EQ(bitmap.header[14], 4);                                 // bits per pixel
    EXPECT_EQ(Little32(bitmap.header, 32), 4u);                      // colours used
    EXPECT_EQ(Little32(bitmap.header, 36), 4u);
    EXPECT_EQ(Little32(bitmap.header, 40 + 4), 0xA0A0A0u);
}

TEST(DeviceImageTest, MonochromeRowsAreCopiedAsTheyStand) {
    // 9 pixels wide: 2 source bytes a row; 8-bit arithmetic gives the width (3 - 250 = 9).
    const std::vector<uint8_t> image{1, 0, 0, 0, 250, 0, 3, 1, 0xA5, 0x80};
    DeviceBitmap bitmap;
    ASSERT_TRUE(ConvertDeviceImage(image, bitmap));
    EXPECT_EQ(bitmap.width, 9);
    EXPECT_EQ(bitmap.height, 1);
    EXPECT_EQ(bitmap.bitsPerPixel, 1);
    EXPECT_EQ(bitmap.bits, (std::vector<uint8_t>{0xA5, 0x80, 0, 0}));
    EXPECT_EQ(bitmap.palette, (std::vector<uint32_t>{0xFFFFFF, 0x000000}));
    EXPECT_EQ(bitmap.header.size(), 48u);
}

TEST(DeviceImageTest, ShortOrEmptyImagesGiveNoPicture) {
    DeviceBitmap bitmap;
    bitmap.width = 77;
    // Shorter than its own header.
    EXPECT_FALSE(ConvertDeviceImage(std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 4}, bitmap));
    // Two rows said, one given.
    EXPECT_FALSE(ConvertDeviceImage(std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 4, 2, 0xFF}, bitmap));
    // Width or height 0.
    EXPECT_FALSE(ConvertDeviceImage(std::vector<uint8_t>{2, 0, 0, 0, 5, 0, 5, 2, 0, 0}, bitmap));
    EXPECT_FALSE(ConvertDeviceImage(std::vector<uint8_t>{1, 0, 0, 0, 0, 7, 8, 7}, bitmap));
    EXPECT_EQ(bitmap.width, 77);
}

} // namespace
} // namespace tv::package
