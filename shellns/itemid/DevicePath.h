// Device paths as the folder builds them: the device name, "\", then the path on the device.
#pragma once
#include <string>

namespace tv::shellns {

struct DeviceParts {
    std::string device;
    std::string rest;
};

// One leading "\" is dropped; the device part runs to the first "\", the rest follows it.
DeviceParts SplitDevicePath(const std::string& path);

// `folder` + "\" + `name`, without a separator when the folder is empty.
std::string JoinDevicePath(const std::string& folder, const std::string& name);

// At least device, volume and item: a device and its top-level items cannot leave the device.
bool IsExportablePath(const std::string& path);

// Whether the rest of a device path names something below the device (contains "\" or "/").
bool HasNestedRest(const std::string& path);

// The part after the last "\" (or the last "/" when there is no "\"), else the whole path.
std::string LastComponent(const std::string& path);

// Whether `candidate` is `folder` itself or lies below it (case-insensitive, as device names are).
bool IsSameOrBelow(const std::string& candidate, const std::string& folder);

} // namespace tv::shellns
