#include "DeviceNames.h"
#include "PcSafeName.h"

#include <gtest/gtest.h>

using namespace filesync;
using tv::portable::IsPcSafeRelativePath;

// The names a device lists become paths below the synchronization root by the shared rule.
TEST(DeviceNames, NamesThatCouldLeaveTheRootOrOpenADeviceAreRefused) {
    EXPECT_TRUE(IsPcSafeRelativePath("a"));
    EXPECT_TRUE(IsPcSafeRelativePath("Docs\\sub\\f.txt"));
    EXPECT_TRUE(IsPcSafeRelativePath("a..b\\.hidden"));
    for (const char* name :
         {"", "..", ".", "a\\..\\b", "a\\.\\b", "\\a", "a\\\\b", "a\\", "C:\\x", "a\\b:stream", "a/../b",
          "..\\x", "Main\\NUL", "Main\\com1.txt", "Main\\end.", "Main\\end "})
        EXPECT_FALSE(IsPcSafeRelativePath(name)) << name;
    EXPECT_FALSE(IsPcSafeRelativePath(std::string("a\0b", 3)));
}

TEST(DeviceNames, ComponentsAndFolderLevels) {
    EXPECT_EQ(FolderLevels("a\\b\\f"), (std::vector<std::string>{"a", "a\\b"}));
    EXPECT_TRUE(FolderLevels("f").empty());
    EXPECT_EQ(FirstComponent("a\\b\\f"), "a");
    EXPECT_EQ(FirstComponent("f"), "f");
    EXPECT_EQ(LastComponent("a\\b\\f"), "f");
    EXPECT_EQ(LastComponent("f"), "f");
}
