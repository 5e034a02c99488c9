#include "DeviceDate.h"

namespace pimsync {

using tv::portable::CalendarTime;
using tv::portable::kNoDeviceTime;

DeviceDate DeviceTimeToDate(uint32_t seconds) {
    if (seconds == 0 || seconds == kNoDeviceTime)
        return {};
    const CalendarTime t = tv::portable::CalendarFromDeviceTime(seconds);
    return DeviceDate{static_cast<uint8_t>(t.year - 1900),
                      static_cast<uint8_t>(t.month),
                      static_cast<uint8_t>(t.day),
                      static_cast<uint8_t>(t.hour),
                      static_cast<uint8_t>(t.minute),
                      static_cast<uint8_t>(t.second),
                      true};
}

uint32_t DateToDeviceTime(const DeviceDate& date) {
    CalendarTime t;
    if (!CalendarFromDeviceDate(date, t))
        return kNoDeviceTime;
    return tv::portable::DeviceTimeFromCalendar(t);
}

DeviceDate DeviceDateFromCalendar(const CalendarTime& time) {
    const uint32_t seconds = tv::portable::DeviceTimeFromCalendar(time);
    return DeviceTimeToDate(seconds);
}

bool CalendarFromDeviceDate(const DeviceDate& date, CalendarTime& time) {
    if (!date.valid)
        return false;
    time = CalendarTime{1900 + date.year, date.month, date.day, date.hour, date.minute, date.second};
    return true;
}

} // namespace pimsync
