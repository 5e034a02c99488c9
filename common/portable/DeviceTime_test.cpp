#include "DeviceTime.h"
#include <gtest/gtest.h>

namespace {

using tv::portable::CalendarFromDeviceTime;
using tv::portable::CalendarTime;
using tv::portable::DeviceTimeFromCalendar;
using tv::portable::kNoDeviceTime;

TEST(DeviceTimeTest, KnownDatesConvertBothWays) {
    const struct {
        CalendarTime date;
        uint32_t seconds;
    } cases[] = {
        {{1900, 1, 1, 0, 0, 0}, 0},
        {{1900, 1, 2, 0, 0, 0}, 86400},
        {{2002, 1, 1, 0, 0, 0}, 3218918400u},
        {{2002, 3, 5, 14, 3, 9}, 3224412189u},
        {{2000, 3, 1, 0, 0, 0}, 3160944000u}, // the leap day of 2000 is counted
        {{2036, 2, 6, 6, 28, 14}, 0xFFFFFFFEu}, // the last second the 32 bits hold
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceTimeFromCalendar(c.date), c.seconds) << c.date.year << "-" << c.date.month;
        EXPECT_EQ(CalendarFromDeviceTime(c.seconds), c.date) << c.seconds;
    }
}

TEST(DeviceTimeTest, EveryFourthYearFrom1900IsALeapYear) {
    EXPECT_EQ(CalendarFromDeviceTime(59 * 86400), (CalendarTime{1900, 2, 29, 0, 0, 0}));
    EXPECT_EQ(CalendarFromDeviceTime(366 * 86400), (CalendarTime{1901, 1, 1, 0, 0, 0}));
    EXPECT_EQ(DeviceTimeFromCalendar({1904, 3, 1, 0, 0, 0}) - DeviceTimeFromCalendar({1904, 2, 28, 0, 0, 0}),
              2u * 86400);
    // Every day of a four-year cycle reads back as the date it was made from.
    for (uint32_t day = 0; day < 1461 * 2; ++day) {
        const uint32_t seconds = 3218918400u + day * 86400 + 3723;
        EXPECT_EQ(DeviceTimeFromCalendar(CalendarFromDeviceTime(seconds)), seconds);
    }
}

TEST(DeviceTimeTest, OutOfRangeFieldsAndDatesPastTheRangeGiveNoDate) {
    EXPECT_EQ(DeviceTimeFromCalendar({2151, 1, 1, 0, 0, 0}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({1899, 12, 31, 0, 0, 0}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({2002, 13, 1, 0, 0, 0}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({2002, 1, 0, 0, 0, 0}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({2002, 1, 1, 24, 0, 0}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({2002, 1, 1, 0, 60, 0}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({2002, 1, 1, 0, 0, 60}), kNoDeviceTime);
    // Past 6 February 2036 06:28:14 the 32 bits would wrap to 1900: no date instead.
    EXPECT_EQ(DeviceTimeFromCalendar({2036, 2, 6, 6, 28, 15}), kNoDeviceTime);
    EXPECT_EQ(DeviceTimeFromCalendar({2150, 12, 31, 23, 59, 59}), kNoDeviceTime);
}

} // namespace
