// Times of a backup set: file times as whole seconds since 1970 (an unsigned 32-bit count, good
// until 2106) and the set's date as an automation date.
#pragma once
#include <cstdint>
#include <optional>

namespace tv::backup {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr uint64_t kFileTimeOf1970 = 116444736000000000ull;
inline constexpr uint64_t kFileTimeTicksPerSecond = 10000000ull;

// A file time as seconds since 1970: times before 1970 give 0, times after the last second an
// unsigned 32-bit count holds give that last second.
uint32_t FileTimeToSetSeconds(uint64_t fileTime);

// Seconds since 1970 (read as an unsigned count) as a file time.
uint64_t SetSecondsToFileTime(uint32_t seconds);

// A calendar time as the system's automation date: days since 1899-12-30, the time of day as a
// fraction (subtracted for days before 1899-12-30). Nothing when a field is out of range.
struct CalendarTime {
    int year, month, day, hour, minute, second;
};
std::optional<double> CalendarTimeToDate(const CalendarTime& time);

// The date as one number, yyyy*10000 + mm*100 + dd.
uint32_t DateNumber(const CalendarTime& time);

} // namespace tv::backup
