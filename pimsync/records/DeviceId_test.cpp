#include "DeviceDate.h"
#include "DeviceId.h"

#include <gtest/gtest.h>

namespace pimsync {
namespace {

TEST(DeviceIdTest, KnownNumbersEncodeAndDecode) {
    const struct {
        uint32_t number;
        const char* text;
    } cases[] = {{1, "AAAAAAB"},
                 {2, "AAAAABA"},
                 {0x80000000u, "AAAAAAC"},
                 {0x12345678u, "EVYM36A"},
                 {0xFFFFFFFDu, "999998D"}};
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeDeviceId(c.number), c.text);
        EXPECT_EQ(DecodeDeviceId(c.text), c.number) << c.text;
    }
    EXPECT_EQ(DecodeDeviceId("@aaaaaab"), 1u);
}

TEST(DeviceIdTest, NumbersWithoutTextFormAndTextsThatAreNoIds) {
    for (uint32_t number : {0u, 0xFFFFFFFFu, 0xFFFFFFFEu})
        EXPECT_EQ(EncodeDeviceId(number), "UNKNOWN");
    for (const char* text : {"UNKNOWN", "AAAAAAA", "AAAAAB", "AAAAAAAB", "AAAAA!B", "", "@", "AAAAAAE"})
        EXPECT_EQ(DecodeDeviceId(text), kNotAnId) << text;
    // Look-alikes read as the symbols the alphabet keeps.
    EXPECT_EQ(DecodeDeviceId("0AAAAAB"), DecodeDeviceId("QAAAAAB"));
    EXPECT_EQ(DecodeDeviceId("OAAAAAB"), DecodeDeviceId("QAAAAAB"));
    EXPECT_EQ(DecodeDeviceId("1AAAAAB"), DecodeDeviceId("JAAAAAB"));
    EXPECT_EQ(DecodeDeviceId("iAAAAAB"), DecodeDeviceId("JAAAAAB"));
    // Every number with a text form survives the trip.
    for (uint32_t number = 1; number < 0xF0000000u; number += 0x00F0F0F1u)
        EXPECT_EQ(DecodeDeviceId(EncodeDeviceId(number)), number);
}

TEST(DeviceDateTest, DeviceTimesAndNoDate) {
    EXPECT_FALSE(DeviceTimeToDate(0).valid);
    EXPECT_FALSE(DeviceTimeToDate(0xFFFFFFFFu).valid);
    EXPECT_EQ(DeviceTimeToDate(86400), (DeviceDate{0, 1, 2, 0, 0, 0, true}));
    EXPECT_EQ(DeviceTimeToDate(3218918400u), (DeviceDate{102, 1, 1, 0, 0, 0, true}));
    EXPECT_EQ(DateToDeviceTime(DeviceDate{}), 0xFFFFFFFFu);
    EXPECT_EQ(DateToDeviceTime(DeviceDate{102, 1, 1, 0, 0, 0, true}), 3218918400u);
}

TEST(DeviceDateTest, PcDatesTheDeviceCannotHoldBecomeNoDate) {
    using tv::portable::CalendarTime;
    // Past the last second of the 32-bit device time: no date, never a wrapped early one.
    EXPECT_FALSE(DeviceDateFromCalendar(CalendarTime{2036, 2, 7, 0, 0, 0}).valid);
    EXPECT_FALSE(DeviceDateFromCalendar(CalendarTime{2150, 12, 31, 0, 0, 0}).valid);
    EXPECT_FALSE(DeviceDateFromCalendar(CalendarTime{1899, 12, 31, 0, 0, 0}).valid);
    EXPECT_FALSE(DeviceDateFromCalendar(CalendarTime{2002, 13, 1, 0, 0, 0}).valid);
    const DeviceDate last = DeviceDateFromCalendar(CalendarTime{2036, 2, 6, 6, 28, 14});
    EXPECT_TRUE(last.valid);
    EXPECT_EQ(DateToDeviceTime(last), 0xFFFFFFFEu);
    CalendarTime back;
    ASSERT_TRUE(CalendarFromDeviceDate(DeviceDateFromCalendar(CalendarTime{2002, 3, 5, 14, 3, 9}), back));
    EXPECT_EQ(back, (CalendarTime{2002, 3, 5, 14, 3, 9}));
    EXPECT_FALSE(CalendarFromDeviceDate(DeviceDate{}, back));
}

} // namespace
} // namespace pimsync
