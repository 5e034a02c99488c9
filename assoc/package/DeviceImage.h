// The device's own image format ("root.ico" of an application) and its conversion into a
// top-down device-independent bitmap for the installers' progress windows.
//
//   offset 0  u8 bits per pixel: 1 monochrome, any other value 2 bits per pixel
//   offset 1  3 bytes not used here
//   offset 4  u8 x0, u8 y0, u8 x1, u8 y1: width = x1 - x0, height = y1 - y0 (8-bit arithmetic)
//   offset 8  height rows of ceil(bits * width / 8) bytes, first pixel in the top bits
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tv::package {

inline constexpr size_t kDeviceImageHeaderSize = 8;
inline constexpr size_t kBitmapInfoHeaderSize = 40;

// A converted image: the bytes of a BITMAPINFOHEADER followed by its palette (little-endian, as
// Windows lays them out), and the pixel rows, each padded to a multiple of 4 bytes.
struct DeviceBitmap {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0; // 1 or 4
    std::vector<uint32_t> palette; // 0x00RRGGBB
    std::vector<uint8_t> header;   // BITMAPINFOHEADER and palette
    std::vector<uint8_t> bits;
};

// Converts `image`. False, and `bitmap` untouched, when the image is shorter than its header
// says or its width or height is 0 (no picture).
bool ConvertDeviceImage(std::span<const uint8_t> image, DeviceBitmap& bitmap);

} // namespace tv::package
