#include "DevicePath.h"
#include <gtest/gtest.h>

using tv::hub::ReduceDeviceError;
using tv::hub::SplitDevicePath;

TEST(DevicePath, SplitsAtTheFirstBackslashAfterOneLeadingOne) {
    auto parts = SplitDevicePath("\\Dev1\\docs\\a.txt");
    EXPECT_EQ(parts.device, "Dev1");
    EXPECT_EQ(parts.rest, "docs\\a.txt");
    parts = SplitDevicePath("Dev1");
    EXPECT_EQ(parts.device, "Dev1");
    EXPECT_EQ(parts.rest, "");
    parts = SplitDevicePath("C:\\tmp\\a.txt");
    EXPECT_EQ(parts.device, "C:");
    EXPECT_EQ(parts.rest, "tmp\\a.txt");
    EXPECT_EQ(SplitDevicePath(nullptr).device, "");
}

TEST(DevicePath, DeviceCodesAreReducedToTheirReason) {
    EXPECT_EQ(ReduceDeviceError(static_cast<HRESULT>(0x00A00012)), 18);
    EXPECT_EQ(ReduceDeviceError(E_FAIL), static_cast<long>(E_FAIL));
    EXPECT_EQ(ReduceDeviceError(S_OK), 0);
}
