// Finding, numbering and opening the device interfaces of the 1.5 generation's USB driver, and
// the three requests the link sends to it.
#pragma once

#include "UsbDeviceInfo.h"

#include <windows.h>

#include <string>

namespace devlink15 {

inline constexpr DWORD kUsbReadRequest = 0x2200A0;
inline constexpr DWORD kUsbWriteRequest = 0x2200A4;
inline constexpr DWORD kUsbDeviceInfoRequest = 0x22010C;

// The device family's USB vendor id and the product ids the hub walk counts.
inline constexpr USHORT kZelvanUsbVendorId = 0x2F5A;
inline constexpr USHORT kZelvanHubProductId = 0x0040;
inline constexpr USHORT kZelvanSecondProductId = 0x0041;

// Interface `index` (0-based, among the present ones) of the class, opened for reading and
// writing; INVALID_HANDLE_VALUE when it is absent or cannot be opened. A non-empty pipe name is
// appended to the interface path after a backslash.
HANDLE OpenUsbDevicePipe(UsbInterfaceClass interfaceClass, const std::string& pipeName, int index,
                         bool overlapped);
bool IsDeviceInterfacePresent(UsbInterfaceClass interfaceClass, int index);

// Device numbers run over loader-class interfaces first, then device-class interfaces.
// 1 (loader class), 2 (device class) or -1 when no interface has that number.
int FindDeviceClassByIndex(int deviceNumber);
// The device-class index a device number stands for; -1 when it names no device-class interface.
int DeviceClassIndexOf(int deviceNumber);
// Connected devices with the hub product id, found by walking the USB host controllers.
int CountHubDevices();
int CountUsbDevices();
bool QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info);
// The device number 0..3 whose device id equals `deviceId`; -1 when none.
int FindDeviceById(const std::string& deviceId);

// How many times OpenUsbDevice tries before it gives up; module-wide, raised by reconnection.
int OpenRetryCount();
void SetOpenRetryCount(int count);

} // namespace devlink15
