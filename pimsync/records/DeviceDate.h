// The date of a device task: calendar fields and a valid flag, stored in the organizer file as a
// device time (the one conversion in tv::portable).
#pragma once
#include "DeviceTime.h"

#include <cstdint>

namespace pimsync {

struct DeviceDate {
    uint8_t year = 0; // years since 1900
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    bool valid = false; // without it every other field is 0: the record has no date
    bool operator==(const DeviceDate&) const = default;
};

// 0 and 0xFFFFFFFF are "no date".
DeviceDate DeviceTimeToDate(uint32_t seconds);
// 0xFFFFFFFF for a record without a date.
uint32_t DateToDeviceTime(const DeviceDate& date);

// A calendar date (from the PC) as a device date. A date the device file cannot hold (out of the
// calendar's ranges, or outside what the 32-bit device time reaches) gives "no date", so that what
// is compared with the device record is what the device would keep.
DeviceDate DeviceDateFromCalendar(const tv::portable::CalendarTime& time);
// Only a valid date converts; false otherwise.
bool CalendarFromDeviceDate(const DeviceDate& date, tv::portable::CalendarTime& time);

} // namespace pimsync
