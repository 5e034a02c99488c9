// Identity of the test device factory and where its devices keep their files.
#pragma once
#include <windows.h>
#include <comcat.h>

namespace tv::tests {

// The test factory, registered in the category of device factories.
inline constexpr CLSID CLSID_TestDeviceFactory = {
    0x399c2664, 0x13d4, 0x4951, {0xb0, 0x3b, 0x46, 0x5d, 0x5d, 0xdd, 0xc3, 0x31}};

// A small property page the test devices name for every item type.
inline constexpr CLSID CLSID_TestPropertyPage = {
    0x5b0e6c61, 0x8f3a, 0x4d52, {0x9a, 0x1e, 0x2c, 0x7d, 0x44, 0x90, 0x13, 0xe7}};

// The category every device factory registers in ("Zelvan Devices").
inline constexpr CATID CATID_ZelvanDevices = {
    0x689d87b0, 0x0ed4, 0x40f4, {0x9e, 0x7e, 0xc6, 0x2f, 0x57, 0xe3, 0x69, 0xa8}};

// The folder whose sub-folders are the test devices: the environment variable wins over the
// registry value (HKCU, key below, value "Root").
inline constexpr char kTestDeviceRootVariable[] = "TV_TESTDEVICE_ROOT";
inline constexpr char kTestDeviceKey[] = "Software\\Zelvan\\Tavrilon\\TestDevice";
inline constexpr char kTestDeviceRootValue[] = "Root";

// Per-device settings, under kTestDeviceKey\Devices\<folder name> (DWORDs): "ModelVersion"
// (21 when missing; 16 makes a 1.0 device, whose listings of type 2 at the root are its folders),
// "RefusePcOn" (1: "pc on" is answered without "pc mode on"), "FreeBytes" (the volume's free space, at most
// this), "MinuteTimes" (1: listing times are cut to whole minutes, as the 1.0 devices keep them),
// "NoBlockSize" (1: the volume reports a block size of 0), "RenameResult" (a failure that SetDeviceName
// answers instead of renaming), "ProgressEveryMs" (a delayed transfer reports progress this often),
// "ImportsBeforeFailure" (copies from the PC after this many fail), "IgnoresCancel" (1: a delayed
// transfer runs its whole delay and completes although cancelled, as a device busy with a large file),
// "VolumeInfoDelayMs" (the volume question is answered only after this pause, as a slow device answers
// it); and a string "StrId" (the string id the device object gives from then on).
inline constexpr char kTestDeviceSettingsKey[] = "Software\\Zelvan\\Tavrilon\\TestDevice\\Devices";
// The value of kTestDeviceKey naming a file every console command is appended to, as
// "device <name> <command>" (shared with other test logs, so one file orders them).
inline constexpr char kTestDeviceCommandLogValue[] = "CommandLog";

// A test device's string id is this prefix followed by its folder's name.
inline constexpr char kTestDeviceIdPrefix[] = "@TD";

// A device error whose high word marks it as a device code; the low word is the reason.
inline constexpr HRESULT kTestDeviceNotFound = static_cast<HRESULT>(0x00A00002);

} // namespace tv::tests
