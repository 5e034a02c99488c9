#include "DeviceImage.h"

namespace tv::package {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kLightGrey = 0xA0A0A0;
constexpr uint32_t kDarkGrey = 0x808080;

size_t PaddedRow(size_t bytes) { return (bytes + 3) / 4 * 4; }

void PutLittle32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutLittle16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> BuildHeader(int width, int height, int bitsPerPixel, const std::vector<uint32_t>& palette) {
    std::vector<uint8_t> header;
    header.reserve(kBitmapInfoHeaderSize + 4 * palette.size());
    PutLittle32(header, kBitmapInfoHeaderSize);
    PutLittle32(header, static_cast<uint32_t>(width));
    PutLittle32(header, static_cast<uint32_t>(-height)); // negative: rows top-down
    PutLittle16(header, 1);                                // planes
    PutLittle16(header, static_cast<uint16_t>(bitsPerPixel));
    PutLittle32(header, 0); // no compression
    PutLittle32(header, 0); // image size
    PutLittle32(header, 0); // horizontal resolution
    PutLittle32(header, 0); // vertical resolution
    PutLittle32(header, static_cast<uint32_t>(palette.size()));
    PutLittle32(header, static_cast<uint32_t>(palette.size()));
    for (uint32_t colour : palette)
        PutLittle32(header, colour);
    return header;
}

} // namespace

bool ConvertDeviceImage(std::span<const uint8_t> image, DeviceBitmap& bitmap) {
    if (image.size() < kDeviceImageHeaderSize)
        return false;
    const bool monochrome = image[0] == 1;
    const int width = static_cast<uint8_t>(image[6] - image[4]);
    const int height = static_cast<uint8_t>(image[7] - image[5]);
    if (width == 0 || height == 0)
        return false;
    const size_t sourceRow = monochrome ? (static_cast<size_t>(width) + 7) / 8 : (2 * static_cast<size_t>(width) + 7) / 8;
    if (image.size() - kDeviceImageHeaderSize < sourceRow * static_cast<size_t>(height))
        return false;

    DeviceBitmap converted;
    converted.width = width;
    converted.height = height;
    converted.bitsPerPixel = monochrome ? 1 : 4;
    converted.palette = monochrome ? std::vector<uint32_t>{kWhite, kBlack}
                                   : std::vector<uint32_t>{kWhite, kLightGrey, kDarkGrey, kBlack};
    const size_t targetData = monochrome ? (static_cast<size_t>(width) + 7) / 8 : (static_cast<size_t>(width) + 1) / 2;
    const size_t targetRow = PaddedRow(targetData);
    converted.bits.assign(targetRow * static_cast<size_t>(height), 0);

    const uint8_t* source = image.data() + kDeviceImageHeaderSize;
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source + sourceRow * static_cast<size_t>(y);
        uint8_t* to = converted.bits.data() + targetRow * static_cast<size_t>(y);
        if (monochrome) {
            for (size_t i = 0; i < sourceRow; ++i)
                to[i] = from[i];
            continue;
        }
        // Four 2-bit pixels per source byte become two bitmap bytes of two 4-bit indices each.
        for (int x = 0; x < width; ++x) {
            const uint8_t value = (from[x / 4] >> (6 - 2 * (x % 4))) & 0x3;
            to[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? value << 4 : value);
        }
    }
    converted.header = BuildHeader(width, height, converted.bitsPerPixel, converted.palette);
    bitmap = std::move(converted);
    return true;
}

} // namespace tv::package
