#include "Splash.h"
#include <gtest/gtest.h>

namespace tv::app {
namespace {

TEST(LinkText, SplitsAnAddressEndingAtAComma) {
    const auto pieces = SplitLinkText(L"See http://www.zelvan.example/x, then more");
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].text, L"See ");
    EXPECT_FALSE(pieces[0].address);
    EXPECT_EQ(pieces[1].text, L"http://www.zelvan.example/x");
    EXPECT_TRUE(pieces[1].address);
    EXPECT_EQ(pieces[2].text, L", then more");
}

TEST(LinkText, AddressAtTheEndAndTextWithoutAddress) {
    auto pieces = SplitLinkText(L"http://a.example");
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(pieces[0].address);
    pieces = SplitLinkText(L"plain");
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_FALSE(pieces[0].address);
    EXPECT_TRUE(SplitLinkText(L"").empty());
}

TEST(LinkText, ShortWordsMoveToTheNextLineLongOnesAreSplit) {
    // "hello world": 8 characters fit, the cut would split "world" after "wo".
    EXPECT_EQ(ChunkCut(L"hello world", 8), 6u);
    // A run of six letters before the cut is split where it is.
    EXPECT_EQ(ChunkCut(L"a abcdefghij", 8), 8u);
    // Cut at a blank or past the end stays.
    EXPECT_EQ(ChunkCut(L"hello world", 5), 5u);
    EXPECT_EQ(ChunkCut(L"hi", 2), 2u);
}

} // namespace
} // namespace tv::app
