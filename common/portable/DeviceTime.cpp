#include "DeviceTime.h"

namespace tv::portable {
namespace {

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr uint32_t kSecondsPerDay = 86400;
constexpr uint32_t kSecondsPerFourYears = 1461 * kSecondsPerDay;

bool InRange(const CalendarTime& t) {
    return t.day >= 1 && t.day <= 31 && t.month >= 1 && t.month <= 12 && t.year >= 1900 &&
           t.year <= 2150 && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

int MonthLength(int month, bool leapYear) {
    static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear ? 29 : kLengths[month - 1];
}

} // namespace

uint32_t DeviceTimeFromCalendar(const CalendarTime& time) {
    if (!InRange(time))
        return kNoDeviceTime;
    // Computed in 64 bits: a date past 2036 would wrap on 32 bits to an early one.
    const int64_t y = time.year - 1900;
    int64_t days = y * 365 + (y + 3) / 4 + kDaysBeforeMonth[time.month - 1] + time.day;
    if (y % 4 == 0 && time.month > 2)
        ++days;
    const int64_t value = ((days * 24 + time.hour) * 60 + time.minute) * 60 + time.second - kSecondsPerDay;
    return value >= kNoDeviceTime ? kNoDeviceTime : static_cast<uint32_t>(value);
}

CalendarTime CalendarFromDeviceTime(uint32_t seconds) {
    CalendarTime t;
    t.second = static_cast<int>(seconds % 60);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.hour = static_cast<int>(seconds / 3600 % 24);
    int yearsSince1900 = static_cast<int>(4 * (seconds / kSecondsPerFourYears));
    int d = static_cast<int>(seconds / kSecondsPerDay % 1461);
    for (int length = yearsSince1900 % 4 == 0 ? 366 : 365; d >= length;
         length = yearsSince1900 % 4 == 0 ? 366 : 365) {
        d -= length;
        ++yearsSince1900;
    }
    const bool leap = yearsSince1900 % 4 == 0;
    t.month = 1;
    while (d >= MonthLength(t.month, leap)) {
        d -= MonthLength(t.month, leap);
        ++t.month;
    }
    t.day = d + 1;
    t.year = 1900 + yearsSince1900;
    return t;
}

} // namespace tv::portable
