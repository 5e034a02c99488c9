#include "SyncText.h"
#include <gtest/gtest.h>

using namespace tv::sync;

TEST(Schedule, PiecesBeforeEachSemicolonAreIdsAndATailIsDropped) {
    EXPECT_EQ(ParseSchedule("@A;@B;"), (std::vector<std::string>{"@A", "@B"}));
    EXPECT_EQ(ParseSchedule("@A;@B"), (std::vector<std::string>{"@A"}));
    EXPECT_EQ(ParseSchedule("@A;;@B;"), (std::vector<std::string>{"@A", "", "@B"}));
    EXPECT_TRUE(ParseSchedule("").empty());
    EXPECT_TRUE(ParseSchedule("@A").empty());
}

TEST(Schedule, JoinedFormReadsBackTheSameIds) {
    const std::vector<std::string> ids{"@A", "", "@B c"};
    EXPECT_EQ(JoinSchedule(ids), "@A;;@B c;");
    EXPECT_EQ(ParseSchedule(JoinSchedule(ids)), ids);
    EXPECT_EQ(JoinSchedule({}), "");
}

TEST(Progress, LargeByteCountsDoNotOverflowAndStayInRange) {
    std::int32_t position = -1;
    ASSERT_TRUE(ProgressPosition(4000000000u, 4294967295u, 1000, position));
    EXPECT_EQ(position, 931);
    ASSERT_TRUE(ProgressPosition(4294967295u, 4294967295u, 1000, position));
    EXPECT_EQ(position, 1000);
    ASSERT_TRUE(ProgressPosition(20, 10, 1000, position));
    EXPECT_EQ(position, 1000);
    ASSERT_TRUE(ProgressPosition(0, 10, 1000, position));
    EXPECT_EQ(position, 0);
}

TEST(Progress, ZeroTotalLeavesThePositionAlone) {
    std::int32_t position = 123;
    EXPECT_FALSE(ProgressPosition(5, 0, 1000, position));
    EXPECT_EQ(position, 123);
}

TEST(DeviceInfo, ItemsSplitAtBarsAndFirstEquals) {
    auto items = SplitDeviceInfo("model=21|owner=a=b|free=10");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1], (std::pair<std::string, std::string>{"owner", "a=b"}));
    EXPECT_EQ(SplitDeviceInfo("model=21|broken|free=1").size(), 1u);
    EXPECT_TRUE(SplitDeviceInfo("").empty());
    EXPECT_EQ(SplitDeviceInfo("a=|=b").size(), 2u);
}
