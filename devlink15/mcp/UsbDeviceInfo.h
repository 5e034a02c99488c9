// Device information record and device numbering, shared by the USB code and the MCP link.
#pragma once

#include "ByteLink.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace devlink15 {

inline constexpr size_t kUsbDeviceInfoBytes = 44; // 22 UTF-16LE characters
inline constexpr int kUsbInterfaceSlots = 4;      // interfaces 0..3 of each class are looked at

// Decodes the 44-byte record: character 0 the type letter, 1-12 the device id, 15-21 the short id.
// Characters outside 8-bit ASCII become '?'; a zero character ends a field early.
UsbDeviceInfo ParseUsbDeviceInfo(const uint8_t (&record)[kUsbDeviceInfoBytes]);

// The per-device mutex name that claims a device system-wide.
std::string DeviceClaimName(const std::string& shortId);

enum class UsbInterfaceClass { Loader = 1, Device = 2 }; // class B and class A

struct UsbDeviceSlot {
    UsbInterfaceClass interfaceClass;
    int interfaceIndex; // 0-based index within its class
};

// Device numbers run over the present loader-class interfaces first, then the present
// device-class interfaces. Both the class lookup and the device information read go through
// this one mapping, so a number always names the same interface.
std::optional<UsbDeviceSlot> MapDeviceNumber(const std::array<bool, kUsbInterfaceSlots>& loaderPresent,
                                             const std::array<bool, kUsbInterfaceSlots>& devicePresent,
                                             int deviceNumber);

} // namespace devlink15
