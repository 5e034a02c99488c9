#include "DeviceNames.h"

#include <gtest/gtest.h>

using namespace filesync;

TEST(DeviceNames, NamesThatCouldLeaveTheRootAreRefused) {
    EXPECT_TRUE(IsSafeRelativeName("a"));
    EXPECT_TRUE(IsSafeRelativeName("Docs\\sub\\f.txt"));
    EXPECT_TRUE(IsSafeRelativeName("a..b\\.hidden"));
    for (const char* name : {"", "..", ".", "a\\..\\b", "a\\.\\b", "\\a", "a\\\\b", "a\\", "C:\\x", "a\\b:stream",
                             "a/../b", "..\\x"})
        EXPECT_FALSE(IsSafeRelativeName(name)) << name;
    EXPECT_FALSE(IsSafeRelativeName(std::string("a\0b", 3)));
}

TEST(DeviceNames, ComponentsAndFolderLevels) {
    EXPECT_EQ(FolderLevels("a\\b\\f"), (std::vector<std::string>{"a", "a\\b"}));
    EXPECT_TRUE(FolderLevels("f").empty());
    EXPECT_EQ(FirstComponent("a\\b\\f"), "a");
    EXPECT_EQ(FirstComponent("f"), "f");
    EXPECT_EQ(LastComponent("a\\b\\f"), "f");
    EXPECT_EQ(LastComponent("f"), "f");
}
