// Attribute and name helpers that the file operations share.
#include "ZvDevice15.h"

#include "Device15Ids.h"
#include "Handles.h"

#include <cstring>

namespace devlink15 {

bool ZvDevice15::HasAllowedChars(const std::string& name) const {
    if (name.empty())
        return true;
    const std::string allowed = LangString(IDS_DEVICE15_ALLOWED_CHARS);
    return name.find_first_not_of(allowed) == std::string::npos;
}

HRESULT ZvDevice15::ApplyItemAttributes(const std::string& devicePath, long bits) {
    // No path names no item: an item the device did not list has no attributes to change, and
    // chmod "" is no command to send.
    if (devicePath.empty() || !IsSafeConsolePath(devicePath))
        return E_INVALIDARG;
    std::string letters;
    if (bits & kAttrReadOnly)
        letters += 'R';
    if (bits & kAttrSystem)
        letters += 's';
    if (bits & kAttrHidden)
        letters += 'H';
    std::string reply;
    HRESULT hr = RunCommand("chmod -RHs \"" + devicePath + "\"", reply);
    if (FAILED(hr))
        return hr;
    hr = RunCommand("chmod +" + letters + " \"" + devicePath + "\"", reply);
    if (FAILED(hr))
        return hr;
    // The device names its failures in the reply; an empty reply tells nothing either.
    if (reply.empty() || reply.find("fail") != std::string::npos)
        return E_FAIL;
    return S_OK;
}

HRESULT ZvDevice15::ReadItemAttributes(const std::string& devicePath, long* bits) {
    if (!bits)
        return E_INVALIDARG;
    ListingEntry entry;
    const HRESULT hr = StatItem(devicePath.empty() ? devicePath : devicePath.substr(1), &entry);
    if (hr < 0)
        return hr;
    if (hr != S_OK)
        return E_FAIL; // the plain number of an unknown volume
    *bits = entry.attr;
    return S_OK;
}

DWORD ZvDevice15::ReadPcAttributes(const std::string& pcPath, long* bits) {
    const DWORD attributes = GetFileAttributesA(pcPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    long result = 0;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        result |= kAttrReadOnly;
    if (attributes & FILE_ATTRIBUTE_SYSTEM)
        result |= kAttrSystem;
    if (attributes & FILE_ATTRIBUTE_HIDDEN)
        result |= kAttrHidden;
    if (bits)
        *bits = result;
    return 0;
}

DWORD ZvDevice15::WritePcAttributes(const std::string& pcPath, long bits) {
    DWORD attributes = 0;
    if (bits & kAttrReadOnly)
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (bits & kAttrSystem)
        attributes |= FILE_ATTRIBUTE_SYSTEM;
    if (bits & kAttrHidden)
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return SetFileAttributesA(pcPath.c_str(), attributes) ? 0 : GetLastError();
}

bool ZvDevice15::OmitsReadOnly() {
    tv::com::UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zelvan\\Tavrilon", 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.Get(), L"TvOptions", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return false;
    return (value & 4) != 0;
}

bool ZvDevice15::FileTimeToLocalSystemTime(const FILETIME& fileTime, SYSTEMTIME& local) {
    FILETIME localTime;
    return FileTimeToLocalFileTime(&fileTime, &localTime) && FileTimeToSystemTime(&localTime, &local);
}

long ZvDevice15::CountChar(const char* text, char c) {
    long count = 0;
    for (; text && *text; ++text)
        count += *text == c ? 1 : 0;
    return count;
}

} // namespace devlink15
