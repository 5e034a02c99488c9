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

// The device family's USB vendor id and the product ids the hub walk counts: 0x40 is a device in
// its loader mode, 0x41 a booted device.
inline constexpr USHORT kZelvanUsbVendorId = 0x0B66;
inline constexpr USHORT kZelvanHubProductId = 0x0040;
inline constexpr USHORT kZelvanSecondProductId = 0x0041;

// What a walk of the host controllers found: every connected device of the family, and those
// with each of the two product ids.
struct UsbProductCounts {
    int total = 0;
    int loaderProduct = 0; // product id 0x40
    int bootedProduct = 0; // product id 0x41
};

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
// Walks the host controllers "\\.\HCD0" to "\\.\HCD9", their root hubs and every hub below;
// a controller or hub that does not answer is skipped.
UsbProductCounts ScanHostControllers();
// Connected devices with the hub product id (0x40), found by walking the USB host controllers.
int CountHubDevices();
int CountUsbDevices();
bool QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info);
// The device number 0..3 whose device id equals `deviceId`; -1 when none.
int FindDeviceById(const std::string& deviceId);

// How many times OpenUsbDevice tries before it gives up; module-wide, raised by reconnection.
int OpenRetryCount();
void SetOpenRetryCount(int count);

} // namespace devlink15
