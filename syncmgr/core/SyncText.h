// The synchronization manager's text and number handling that needs no Windows header: the
// stored schedule of a synchronizer, device ids as key names, progress positions and the device
// information list.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tv::sync {

// The device ids of a stored schedule: every piece before a ";" is one id (two ";" in a row
// give an empty id); text after the last ";" is not an id.
std::vector<std::string> ParseSchedule(std::string_view stored);

// The stored form of a schedule: each id followed by ";".
std::string JoinSchedule(const std::vector<std::string>& ids);

// Whether a device's string id can name its key under "DeviceList": not empty and without "\",
// so that it names neither the list's own key nor a key below another device's.
bool IsDeviceKeyName(std::string_view id);

// The position of a progress bar running from 0 to `range` for `done` of `total`, computed in
// 64 bits and clamped to the range. False (position unchanged) when `total` is 0.
bool ProgressPosition(std::uint32_t done, std::uint32_t total, std::int32_t range, std::int32_t& position);

// The "type=value|type=value" information text of a device as (type, value) pairs; an item
// without "=" ends the list.
std::vector<std::pair<std::string, std::string>> SplitDeviceInfo(std::string_view info);

} // namespace tv::sync
