#include "PackageInfo.h"
#include "VersionCheck.h"

#include <gtest/gtest.h>

namespace tv::package {
namespace {

constexpr char kFullDescriptor[] =
    "\"Chess\" deluxe\n"
    "Board \"games\"\n"
    "v1.2\n"
    "no digits\n"
    "\"My Game\" demo\n"
    "  one   two\"three\"\n"
    "third text\n"
    "1.2.30\n"
    "1.3.100\n"
    "fourth text\n"
    "alpha \"beta gamma\n"
    "3 7 2 x\n"
    "ignored line\n"
    "Ready >\n";

TEST(PackageInfoTest, EveryFieldFromItsLineWithNumbers) {
    PackageInfo info;
    ASSERT_TRUE(ParsePackageInfo(info, kFullDescriptor, true));
    EXPECT_EQ(info.title, "Chess deluxe");
    EXPECT_EQ(info.subtitle, "Board games");
    EXPECT_EQ(info.firstNumber, 1); // "v1.2": the first run of digits
    EXPECT_EQ(info.secondNumber, 0);
    EXPECT_EQ(info.firstWords, (std::vector<std::string>{"My Game", "demo"}));
    EXPECT_EQ(info.secondWords, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(info.thirdText, "third text");
    EXPECT_EQ(info.version, "1.2.30");
    EXPECT_EQ(info.requiredVersion, "1.3.100");
    EXPECT_EQ(info.fourthText, "fourth text");
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(info.thirdWords, (std::vector<std::string>{"alpha", "beta gamma"}));
    EXPECT_EQ(info.flags, kPackageFlagThree | kPackageFlagTwo);
}

TEST(PackageInfoTest, WithoutNumbersTheWordListsFollowTheSubtitle) {
    PackageInfo info;
    ParsePackageInfo(info, "T\nS\na b\nc\nthird\n2.0.1\n2.0.0\nfourth\nw\n2\n", false);
    EXPECT_EQ(info.firstWords, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(info.secondWords, (std::vector<std::string>{"c"}));
    EXPECT_EQ(info.version, "2.0.1");
    EXPECT_EQ(info.requiredVersion, "2.0.0");
    EXPECT_EQ(info.flags, kPackageFlagTwo);
}

TEST(PackageInfoTest, PromptLineStopsTheParseAndLeavesTheRestCleared) {
    PackageInfo info;
    info.version = "old";
    info.flags = 3;
    ParsePackageInfo(info, "Title\r\nSub\r\nReady >\r\n7\r\n", true);
    EXPECT_EQ(info.title, "Title");
    EXPECT_EQ(info.subtitle, "Sub");
    EXPECT_EQ(info.firstNumber, 0);
    EXPECT_TRUE(info.version.empty());
    EXPECT_EQ(info.flags, 0);
}

TEST(PackageInfoTest, CarriageReturnsDoNotCountAndShortTextsGiveEmptyLines) {
    PackageInfo crlf, lf;
    ParsePackageInfo(crlf, "A\r\nB\r\n12\r\n34\r\nx\r\ny\r\nt\r\n1.0.0\r\n", true);
    ParsePackageInfo(lf, "A\nB\n12\n34\nx\ny\nt\n1.0.0", true);
    EXPECT_EQ(crlf.version, "1.0.0");
    EXPECT_EQ(lf.version, "1.0.0");
    EXPECT_EQ(crlf.secondNumber, 34);
    EXPECT_TRUE(lf.requiredVersion.empty());
    PackageInfo empty;
    EXPECT_TRUE(ParsePackageInfo(empty, "", true));
    EXPECT_TRUE(empty.title.empty());
    EXPECT_TRUE(empty.firstWords.empty());
}

TEST(PackageInfoTest, NumberReaderTakesTheFirstRunOfDigitsAndHoldsLargeValues) {
    EXPECT_EQ(ReadLeadingNumber("v1.2"), 1);
    EXPECT_EQ(ReadLeadingNumber("none"), 0);
    EXPECT_EQ(ReadLeadingNumber("size 4096 bytes"), 4096);
    EXPECT_EQ(ReadLeadingNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(ReadWords("\"\" a"), (std::vector<std::string>{"", "a"}));
}

TEST(VersionCheckTest, DeviceVersionLiesBetweenTheMarks) {
    EXPECT_EQ(ExtractDeviceVersion("Zelvan OS v. 1.2.345 built Jan 1"), "1.2.345");
    EXPECT_EQ(ExtractDeviceVersion("Zelvan OS 1.2.345 built Jan 1"), std::nullopt);
    EXPECT_EQ(ExtractDeviceVersion("Zelvan OS v. 1.2.345"), std::nullopt);
    // " built" ahead of the version mark gives no text (never a reversed range).
    EXPECT_EQ(ExtractDeviceVersion("x built y v. 1.2.3"), std::nullopt);
}

TEST(VersionCheckTest, KindsTwoAndThreeCountAsOneKind) {
    // 1.2.345 against 1.3.100: the same kind, the build is not smaller.
    EXPECT_EQ(CheckVersionTexts("OS v. 1.2.345 built", "1.3.100"), VersionVerdict::Install);
    EXPECT_EQ(CheckVersionTexts("OS v. 1.3.99 built", "1.2.100"), VersionVerdict::Refuse);
    // 2.1.5 against 2.2.1: kind 1 is below kind 2.
    std::string shown;
    EXPECT_EQ(CheckVersionTexts("OS v. 2.1.5 built", "2.2.1", &shown), VersionVerdict::Refuse);
    EXPECT_EQ(shown, "2.1.5");
    EXPECT_EQ(CheckVersionTexts("OS v. 3.0.0 built", "2.9.9"), VersionVerdict::Install);
    EXPECT_EQ(CheckVersionTexts("OS v. 1.9.9 built", "2.0.0"), VersionVerdict::Refuse);
    EXPECT_EQ(CheckVersionTexts("OS v. 2.4.1 built", "2.4.1"), VersionVerdict::Install);
    EXPECT_EQ(CheckVersionTexts("OS v. 2.4.0 built", "2.4.1"), VersionVerdict::Refuse);
}

TEST(VersionCheckTest, VersionsThatCannotBeComparedInstall) {
    EXPECT_EQ(CheckVersionTexts("no version here", "9.9.9"), VersionVerdict::Install);
    EXPECT_EQ(CheckVersionTexts("OS v. 1.2 built", "9.9.9"), VersionVerdict::Install);
    EXPECT_EQ(CheckVersionTexts("OS v. 1.2.3 built", ""), VersionVerdict::Install);
    EXPECT_EQ(CheckVersionTexts("OS v. 1.2.3.4 built", "9.9.9"), VersionVerdict::Install);
    // Parts without digits read as 0.
    ASSERT_TRUE(ParseVersionTriple("x.2y.").has_value());
    EXPECT_EQ(ParseVersionTriple("x.2y.")->kind, 2);
    EXPECT_EQ(ParseVersionTriple("x.2y.")->major, 0);
}

} // namespace
} // namespace tv::package
