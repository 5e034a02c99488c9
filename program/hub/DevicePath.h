// Device paths as clients write them: "<device name or string id>\<path on the device>",
// optionally with one leading backslash.
#pragma once
#include <windows.h>
#include <string>

namespace tv::hub {

struct DevicePath {
    std::string device;
    std::string rest;
};

// One leading backslash is dropped; the device part runs to the first backslash, the rest is
// what follows it (empty without a backslash). A null path gives two empty parts.
DevicePath SplitDevicePath(const char* path);

// Device results whose high word is 0x00A0 carry their reason in the low word; the callers see
// that reason. Every other value is passed on unchanged.
long ReduceDeviceError(HRESULT result);

} // namespace tv::hub
