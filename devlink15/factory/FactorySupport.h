// Pieces both device factories of this generation share: the advised hub callbacks, the device
// queries by device number, the per-device settings and the system version they act on.
#pragma once

#include "ComPtr.h"
#include "ZelvanMgr.h"
#include "ZvDevice.h"

#include <windows.h>

#include <string>
#include <vector>

namespace devlink15 {

// "Software\Zelvan\Tavrilon\DeviceList" under HKEY_CURRENT_USER.
inline constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";

// The advised hub callbacks. The cookie of a sink is its slot; an emptied slot stays empty.
class FactorySinks {
  public:
    // Keeps a reference to the sink; E_POINTER for a null sink or cookie.
    HRESULT Advise(IZvFactoryCallback* sink, long* cookie);
    // E_INVALIDARG for a cookie outside the slots; an emptied slot is not released again.
    HRESULT UnAdvise(long cookie);
    void Clear() { sinks_.clear(); }

    // The sinks in slot order; a copy, so that a callback may advise or unadvise meanwhile.
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> Present() const;
    void DeviceFound(const GUID& factory, IZvDevice* device) const;
    void DeviceLost(const GUID& factory, const std::string& name) const;

  private:
    std::vector<tv::com::ComPtr<IZvFactoryCallback>> sinks_;
};

// The factory identifier of a device that was connected but did not answer its identification.
inline constexpr GUID kNotAnsweringDevice = {0x00000000, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

// The short id of the device with that number; false when it cannot be read.
bool ReadShortId(int deviceNumber, std::string& shortId);
// "@" followed by the short id.
std::string StringIdOf(const std::string& shortId);
// The interface path of a device number of the own class; empty when there is none.
std::string InterfacePathOf(int deviceNumber);
bool SamePath(const std::string& a, const std::string& b);

// The system version as GetVersion packs it. Tests replace it to act as another system.
using SystemVersionSource = DWORD (*)();
DWORD SystemVersion();
void SetSystemVersionSource(SystemVersionSource source); // null: the real one
bool IsWindowsMe(DWORD packedVersion);
bool IsLegacyRemovalSystem(DWORD packedVersion); // Windows 98 or Me

// Per-device settings under DeviceList\<string id>.
bool IsDeviceRegistered(const std::string& stringId);
bool ReadDeviceName(const std::string& stringId, std::string& name);
// Whether a registered device already has exactly this name.
bool IsDeviceNameTaken(const std::string& name);
HRESULT WriteDeviceRegistration(const std::string& stringId, const std::string& name, bool isGuest);

// The device list dialog: asks for a name until a valid unused one is given, then writes the
// settings. Runs modally on the calling thread.
void RegisterNewDevice(const std::string& stringId);

} // namespace devlink15
