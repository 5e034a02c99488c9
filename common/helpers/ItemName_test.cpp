#include "ItemName.h"
#include <gtest/gtest.h>

using tv::SplitString;
using tv::StringList;
using tv::ValidateItemName;

TEST(ValidateItemName, TrimsOuterWhiteSpaceAndKeepsInnerBlanks) {
    std::string name = "  Pocket 1  ";
    ASSERT_TRUE(ValidateItemName(name));
    EXPECT_EQ("Pocket 1", name);
    std::string tabbed = "\t\r\nDev\n";
    ASSERT_TRUE(ValidateItemName(tabbed));
    EXPECT_EQ("Dev", tabbed);
}

TEST(ValidateItemName, AcceptsUpToSixtyFourCharactersAfterTrimming) {
    std::string exact(64, 'a');
    EXPECT_TRUE(ValidateItemName(exact));
    std::string tooLong(65, 'a');
    EXPECT_FALSE(ValidateItemName(tooLong));
    EXPECT_EQ(std::string(65, 'a'), tooLong);
    std::string padded = " " + std::string(64, 'b');
    ASSERT_TRUE(ValidateItemName(padded));
    EXPECT_EQ(std::string(64, 'b'), padded);
}

TEST(ValidateItemName, AllowsLettersDigitsBlankUnderscoreAndAt) {
    for (const char* good : {"my_device", "dev@home", "Unit 42", "@"}) {
        std::string name = good;
        EXPECT_TRUE(ValidateItemName(name)) << good;
    }
    for (const char* bad : {"a-b", "a.b", "a/b", "a\\b", "x:y", "tab\tinside"}) {
        std::string name = bad;
        EXPECT_FALSE(ValidateItemName(name)) << bad;
        EXPECT_EQ(bad, name) << "a refused name is left as it was";
    }
}

TEST(ValidateItemName, BlanksOnlyOrEmptyIsRefusedUnchanged) {
    std::string blanks = "    ";
    EXPECT_FALSE(ValidateItemName(blanks));
    EXPECT_EQ("    ", blanks);
    std::string empty;
    EXPECT_FALSE(ValidateItemName(empty));
}

TEST(SplitString, GivesOneMorePieceThanSeparators) {
    StringList list;
    ASSERT_TRUE(SplitString("a:b", ':', list));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), list.Items());
    ASSERT_TRUE(SplitString("a:", ':', list));
    EXPECT_EQ((std::vector<std::string>{"a", ""}), list.Items());
    ASSERT_TRUE(SplitString(":", ':', list));
    EXPECT_EQ((std::vector<std::string>{"", ""}), list.Items());
    ASSERT_TRUE(SplitString("abc", ':', list));
    EXPECT_EQ((std::vector<std::string>{"abc"}), list.Items());
    ASSERT_TRUE(SplitString("1;;3;", ';', list));
    EXPECT_EQ((std::vector<std::string>{"1", "", "3", ""}), list.Items());
}

TEST(SplitString, EmptyTextGivesAnEmptyListAndNullFails) {
    StringList list;
    ASSERT_TRUE(SplitString("x:y", ':', list));
    ASSERT_TRUE(SplitString("", ':', list));
    EXPECT_EQ(0u, list.Count());
    ASSERT_TRUE(SplitString("x:y", ':', list));
    EXPECT_FALSE(SplitString(nullptr, ':', list));
    EXPECT_EQ(0u, list.Count()) << "the list is emptied first";
}

TEST(StringList, KeepsEveryAppendedItemInOrder) {
    StringList list;
    for (int i = 0; i < 100; ++i)
        list.Append(std::to_string(i));
    ASSERT_EQ(100u, list.Count());
    EXPECT_EQ("0", list[0]);
    EXPECT_EQ("99", list[99]);
}
