#include "MaskMatch.h"

#include <gtest/gtest.h>

#include <string>

using filesync::MatchMask;

TEST(MaskMatch, WildcardsAndLiteralsMatchTheWholeName) {
    EXPECT_TRUE(MatchMask("*.txt", "notes.txt"));
    EXPECT_TRUE(MatchMask("*.txt", ".txt"));
    EXPECT_TRUE(MatchMask("a?c", "abc"));
    EXPECT_TRUE(MatchMask("*", ""));
    EXPECT_TRUE(MatchMask("a**", "a"));
    EXPECT_TRUE(MatchMask("Docs\\*", "Docs\\x\\y"));
    EXPECT_TRUE(MatchMask("*a*b*c", "xxaxxbxxbxc"));
    EXPECT_FALSE(MatchMask("*.txt", "notes.txt.bak"));
    EXPECT_FALSE(MatchMask("abc", "abcd"));
    EXPECT_FALSE(MatchMask("", "a"));
    EXPECT_TRUE(MatchMask("", ""));
}

TEST(MaskMatch, CaseMattersAndQuestionMarkNeedsACharacter) {
    EXPECT_FALSE(MatchMask("*.txt", "A.TXT"));
    EXPECT_FALSE(MatchMask("a?", "a"));
    EXPECT_FALSE(MatchMask("?", ""));
}

TEST(MaskMatch, ManyStarsOnALongNameStayFast) {
    // A backtracking matcher takes exponential time here; the iterative one returns at once.
    const std::string mask = std::string(40, '*') + "b";
    const std::string name(20000, 'a');
    EXPECT_FALSE(MatchMask(mask, name));
    EXPECT_TRUE(MatchMask(mask, name + "b"));
}
