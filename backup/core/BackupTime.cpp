#include "BackupTime.h"

namespace tv::backup {

uint32_t FileTimeToSetSeconds(uint64_t fileTime) {
    if (fileTime <= kFileTimeOf1970)
        return 0;
    const uint64_t seconds = (fileTime - kFileTimeOf1970) / kFileTimeTicksPerSecond;
    return seconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(seconds);
}

uint64_t SetSecondsToFileTime(uint32_t seconds) {
    return static_cast<uint64_t>(seconds) * kFileTimeTicksPerSecond + kFileTimeOf1970;
}

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 0001-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int year, int month, int day) {
    int64_t days = 0;
    const int64_t y = year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    return days + day - 1;
}

} // namespace

std::optional<double> CalendarTimeToDate(const CalendarTime& t) {
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 ||
        t.second < 0 || t.second > 59)
        return std::nullopt;
    const int64_t days = DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(1899, 12, 30);
    const double fraction = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

uint32_t DateNumber(const CalendarTime& t) {
    return static_cast<uint32_t>(t.year) * 10000u + static_cast<uint32_t>(t.month) * 100u +
           static_cast<uint32_t>(t.day);
}

} // namespace tv::backup
