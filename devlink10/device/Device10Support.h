// Pieces the 1.0 generation's factory, device object and pages share: language texts, task
// allocator copies, the settings of known devices and the slot record a found device is made of.
#pragma once
#include <windows.h>

#include <string>

namespace devlink10 {

// "Software\Zelvan\Tavrilon\DeviceList" under HKEY_CURRENT_USER.
inline constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";

// What the factory knows of a device found on a port; the device object is made from it.
struct DeviceSlot {
    std::string id;          // "@" and seven characters
    std::string defaultName; // from the language text with the id and the port number
    std::string name;        // the user's name from the settings
    long port = 0;
    long model = 0;
    long reserved = 0;
};

// The module this code is linked into.
HMODULE ThisModule();
// A language-library text; empty when the library or the string is missing.
std::string LangString(UINT id);
// The full path of the language library beside this module.
std::string LanguageLibraryPath();
// The full path of this module.
std::string ModulePath();
// Copies text and terminator when it fits in nMaxLen; false (nothing written) when it does not.
bool CopyOut(const std::string& text, long nMaxLen, unsigned char* buffer);
// Copies as much of the text as fits (an error text for the caller).
void CopyError(const std::string& text, long nMaxLen, unsigned char* buffer);

// Settings of known devices.
bool ReadDeviceName(const std::string& id, std::string& name);
// Whether a device other than `exceptId` is registered with exactly this name.
bool IsNameTakenByOther(const std::string& name, const std::string& exceptId);
LSTATUS WriteDeviceName(const std::string& id, const std::string& name);
LSTATUS WriteDeviceRegistration(const std::string& id, const std::string& name, DWORD isGuest);

// Told by a device object that its device has gone; called on the device object's thread and
// expected to return at once (the factory posts the work to its own window).
class DeviceLostSink {
public:
    virtual void PostDeviceLost(long port, const std::string& name) = 0;

protected:
    ~DeviceLostSink() = default;
};

} // namespace devlink10
