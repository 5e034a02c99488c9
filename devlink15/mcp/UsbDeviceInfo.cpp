#include "UsbDeviceInfo.h"

namespace devlink15 {
namespace {

std::string Characters(const uint8_t (&record)[kUsbDeviceInfoBytes], int first, int count) {
    std::string text;
    for (int i = first; i < first + count; ++i) {
        const unsigned value = record[2 * i] | (record[2 * i + 1] << 8);
        if (value == 0)
            break;
        text.push_back(value < 0x80 ? static_cast<char>(value) : '?');
    }
    return text;
}

} // namespace

UsbDeviceInfo ParseUsbDeviceInfo(const uint8_t (&record)[kUsbDeviceInfoBytes]) {
    UsbDeviceInfo info;
    info.type = Characters(record, 0, 1) == "T" ? 1 : 0;
    info.deviceId = Characters(record, 1, 12);
    info.shortId = Characters(record, 15, 7);
    return info;
}

std::string DeviceClaimName(const std::string& shortId) {
    return "{46FD48E3-FCBA-45d6-942F-B44EAC7F97A5}@" + shortId;
}

std::optional<UsbDeviceSlot> MapDeviceNumber(const std::array<bool, kUsbInterfaceSlots>& loaderPresent,
                                             const std::array<bool, kUsbInterfaceSlots>& devicePresent,
                                             int deviceNumber) {
    if (deviceNumber < 0)
        return std::nullopt;
    int remaining = deviceNumber;
    for (int i = 0; i < kUsbInterfaceSlots; ++i)
        if (loaderPresent[i] && remaining-- == 0)
            return UsbDeviceSlot{UsbInterfaceClass::Loader, i};
    for (int i = 0; i < kUsbInterfaceSlots; ++i)
        if (devicePresent[i] && remaining-- == 0)
            return UsbDeviceSlot{UsbInterfaceClass::Device, i};
    return std::nullopt;
}

} // namespace devlink15
