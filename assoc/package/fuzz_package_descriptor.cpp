// Fuzzes the descriptor parser, the version check and the device-image converter on any bytes.
#include "DeviceImage.h"
#include "PackageInfo.h"
#include "VersionCheck.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tv::package::PackageInfo info;
    tv::package::ParsePackageInfo(info, text, true);
    tv::package::ParsePackageInfo(info, text, false);
    tv::package::CheckVersionTexts(text, info.requiredVersion);
    tv::package::DeviceBitmap bitmap;
    if (tv::package::ConvertDeviceImage({data, size}, bitmap)) {
        const size_t row = bitmap.bits.size() / static_cast<size_t>(bitmap.height);
        if (row % 4 != 0 || bitmap.header.size() != 40 + 4 * bitmap.palette.size())
            __builtin_trap();
    }
    return 0;
}
