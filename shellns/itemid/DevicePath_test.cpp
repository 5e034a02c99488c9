#include "DevicePath.h"
#include <gtest/gtest.h>

using namespace tv::shellns;

TEST(DevicePathTest, SplitDropsOneLeadingSeparator) {
    DeviceParts parts = SplitDevicePath("\\Dev\\Main\\a.txt");
    EXPECT_EQ("Dev", parts.device);
    EXPECT_EQ("Main\\a.txt", parts.rest);
    parts = SplitDevicePath("Dev");
    EXPECT_EQ("Dev", parts.device);
    EXPECT_EQ("", parts.rest);
}

TEST(DevicePathTest, OnlyItemsBelowATopLevelFolderAreExportable) {
    EXPECT_FALSE(IsExportablePath("Dev"));
    EXPECT_FALSE(IsExportablePath("Dev\\Main"));
    EXPECT_TRUE(IsExportablePath("Dev\\Main\\a.txt"));
    EXPECT_FALSE(HasNestedRest("Dev\\Main"));
    EXPECT_TRUE(HasNestedRest("Dev\\Main/x"));
}

TEST(DevicePathTest, LastComponentAndJoin) {
    EXPECT_EQ("a.txt", LastComponent("C:\\x\\a.txt"));
    EXPECT_EQ("b", LastComponent("x/b"));
    EXPECT_EQ("plain", LastComponent("plain"));
    EXPECT_EQ("Dev", JoinDevicePath("", "Dev"));
    EXPECT_EQ("Dev\\Main", JoinDevicePath("Dev", "Main"));
}

TEST(DevicePathTest, SameOrBelowComparesWholeComponents) {
    EXPECT_TRUE(IsSameOrBelow("Dev\\Main\\A", "dev\\main\\a"));
    EXPECT_TRUE(IsSameOrBelow("Dev\\Main\\A\\B", "Dev\\Main\\A"));
    EXPECT_FALSE(IsSameOrBelow("Dev\\Main\\AB", "Dev\\Main\\A"));
    EXPECT_FALSE(IsSameOrBelow("Dev\\Main", "Dev\\Main\\A"));
    EXPECT_FALSE(IsSameOrBelow("x", ""));
}
