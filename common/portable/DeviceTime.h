// Device time: an unsigned 32-bit count of seconds since 1 January 1900 00:00:00 in the device's
// calendar, where every year whose distance from 1900 is a multiple of 4 is a leap year (1900
// included), so that every four years have exactly 1461 days. 0xFFFFFFFF stands for "no date".
// The mail and the contacts and tasks synchronizers share this one conversion.
#pragma once
#include <cstdint>

namespace tv::portable {

inline constexpr uint32_t kNoDeviceTime = 0xFFFFFFFFu;

// A calendar date with the full year (1900 and later), as the PC's local time gives it.
struct CalendarTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..59
    bool operator==(const CalendarTime&) const = default;
};

// The device time of a date. A field out of range (day 1..31, month 1..12, year 1900..2150, hour
// above 23, minute or second above 59) gives kNoDeviceTime, and so does a date past the last
// second the 32 bits hold (6 February 2036 06:28:14): the value never wraps to an earlier date.
uint32_t DeviceTimeFromCalendar(const CalendarTime& time);

// The date a device time stands for. Every value converts, 0 included (1 January 1900); whether
// 0 and kNoDeviceTime mean "no date" is the caller's file format's rule.
CalendarTime CalendarFromDeviceTime(uint32_t seconds);

} // namespace tv::portable
