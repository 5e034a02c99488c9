// The listing line layout, attribute letters, times and the bounds of the reply.
#include "Listing.h"

#include <gtest/gtest.h>

namespace devlink15 {
namespace {

const ListingTexts kTexts{"Folder", "File", "Main", "Player"};

std::vector<ListingEntry> Parse(const std::string& reply, bool expectOk = true) {
    std::vector<ListingEntry> entries;
    EXPECT_EQ(ParseListing(reply, kTexts, entries), expectOk) << reply;
    return entries;
}

uint64_t FileTimeOf(const ListingEntry& entry) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(entry.timeHigh)) << 32) |
           static_cast<uint32_t>(entry.timeLow);
}

TEST(ParseListing, ReadsOneFileLineWithBlanksInsideThePath) {
    const auto entries = Parse("\n1  HRs 01.02.2003 04:05 123 /default/a b.txt\ndone\n");
    ASSERT_EQ(entries.size(), 1u);
    const ListingEntry& e = entries[0];
    EXPECT_EQ(e.type, kTypeFile);
    EXPECT_EQ(e.attr, 13);
    EXPECT_EQ(e.hint, 8);
    EXPECT_EQ(e.size, 123);
    EXPECT_EQ(e.name, "a b.txt");
    EXPECT_EQ(e.path, "/default/a b.txt");
    EXPECT_EQ(e.description, "File");
    ListingTime t{"", 2003, 2, 1, 4, 5, 0};
    uint64_t expected = 0;
    ASSERT_TRUE(ListingTimeToFileTime(t, expected));
    EXPECT_EQ(FileTimeOf(e), expected);
    // 1 February 2003 04:05:00 as seconds since 1601.
    EXPECT_EQ(expected, (11644473600ULL + 1044072300ULL) * 10000000ULL);
}

TEST(ParseListing, FolderLinesAndSeveralEntriesInReplyOrder) {
    const auto entries = Parse("\n1  D 05.06.2007 08:09 0 /default/Games\n"
                               "   1  - 31.12.1999 23:59 4294967296 /default/big.bin\n"
                               "1  DHMS 01.01.2020 00:00 0 /default/Games/sub\ndone\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, kTypeFolder);
    EXPECT_EQ(entries[0].attr, kAttrFolder);
    EXPECT_EQ(entries[0].description, "Folder");
    EXPECT_EQ(entries[1].type, kTypeFile);
    EXPECT_EQ(entries[1].size, 2147483647);
    EXPECT_EQ(entries[1].name, "big.bin");
    EXPECT_EQ(entries[2].attr, kAttrFolder | kAttrHidden | kAttrM | kAttrS);
}

TEST(ParseListing, ShortRepliesAndTheStatusLineGiveNoEntries) {
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n").empty());
    EXPECT_TRUE(Parse("\ndone\n").empty());
    EXPECT_TRUE(Parse("x0123456789").empty()); // 10 characters after the first are never a line
}

TEST(ParseListing, LinesWithoutTheirColumnsFailTheParse) {
    Parse("\n1  HRs 01.02.2003\n and more text\ndone\n", false);
    Parse("\n1  R 01.02.2003 04:05 xyz\n", false);
    Parse("\nnoblanksatallinthislongline", false);
    // A path column without a line feed runs to the end of the reply.
    const auto entries = Parse("\n1  R 01.02.2003 04:05 7 /default/x");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, "/default/x");
}

TEST(ListingTime, ReadsFixedColumnsAndRejectsImpossibleDates) {
    const ListingTime t = ParseListingTime("31.12.1999 23:59");
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.year, 1999);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    uint64_t ft = 1;
    EXPECT_FALSE(ListingTimeToFileTime(ParseListingTime("30.02.2001 10:00"), ft));
    EXPECT_EQ(ft, 0u);
    EXPECT_FALSE(ListingTimeToFileTime(ParseListingTime("garbage"), ft));
    EXPECT_TRUE(ListingTimeToFileTime(ParseListingTime("29.02.2000 00:00"), ft));
}

TEST(ParseClampedDecimal, StopsAtNonDigitsAndClamps) {
    EXPECT_EQ(ParseClampedDecimal("123abc"), 123);
    EXPECT_EQ(ParseClampedDecimal("-42"), -42);
    EXPECT_EQ(ParseClampedDecimal("99999999999999999999999"), 2147483647);
    EXPECT_EQ(ParseClampedDecimal(""), 0);
}

} // namespace
} // namespace devlink15
