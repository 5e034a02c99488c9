#include "MailAddress.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

TEST(DeviceNumberTest, DecodesAddressesByTheirAlphabet) {
    EXPECT_EQ(DeviceNumberFromAddress("@AAAAAAA"), 0u);
    EXPECT_EQ(DeviceNumberFromAddress("@AAAAAAB"), 1u);
    EXPECT_EQ(DeviceNumberFromAddress("@BAAAAAA"), 67108864u);
    EXPECT_EQ(DeviceNumberFromAddress("\x85" "BAAAAAA"), 67108864u);
    // Lower case, and the look-alike digits mapped onto Q and J.
    EXPECT_EQ(DeviceNumberFromAddress("@aaaaaab"), 1u);
    EXPECT_EQ(DeviceNumberFromAddress("@0AAAAAA"), DeviceNumberFromAddress("@QAAAAAA"));
    EXPECT_EQ(DeviceNumberFromAddress("@OAAAAAA"), 22u << 26);
    EXPECT_EQ(DeviceNumberFromAddress("@1AAAAAA"), 23u << 26);
    EXPECT_EQ(DeviceNumberFromAddress("@IAAAAAA"), 23u << 26);
    // Invalid: seventh character, length, prefix, characters outside the alphabet.
    EXPECT_EQ(DeviceNumberFromAddress("@BAAAAAC"), 0u);
    EXPECT_EQ(DeviceNumberFromAddress("@BAAAAA"), 0u);
    EXPECT_EQ(DeviceNumberFromAddress("@BAAAAAAA"), 0u);
    EXPECT_EQ(DeviceNumberFromAddress("#BAAAAAA"), 0u);
    EXPECT_EQ(DeviceNumberFromAddress("@BAIAAQA"), DeviceNumberFromAddress("@BAJAAQA"));
    EXPECT_EQ(DeviceNumberFromAddress("@BAIA!QA"), 0u);
}

TEST(DeviceNumberTest, OwnerNumbersTakeTheUpperHalfAndRefuseZero) {
    EXPECT_EQ(OwnerNumberFromUserId("AAAAAAB"), 1u);
    EXPECT_EQ(OwnerNumberFromUserId("@AAAAAAB"), 1u);
    EXPECT_EQ(OwnerNumberFromUserId("AAAAAAC"), 2147483648u);
    EXPECT_EQ(OwnerNumberFromUserId("AAAAAAD"), 2147483649u);
    EXPECT_EQ(OwnerNumberFromUserId("99999999"), 0u);
    EXPECT_EQ(OwnerNumberFromUserId("9999999D"), 0u);
    EXPECT_EQ(OwnerNumberFromUserId("999999D"), 4294967295u);
    EXPECT_EQ(OwnerNumberFromUserId("AAAAAAA"), 0u);
    EXPECT_EQ(OwnerNumberFromUserId("AAAAAAE"), 0u);
}

TEST(AddressKindTest, ClassifiesWhatARecordCanHold) {
    EXPECT_TRUE(IsInternetAddress("a.b@c.d"));
    EXPECT_TRUE(IsInternetAddress("o'neil+x@host-1"));
    EXPECT_FALSE(IsInternetAddress("a@b@c"));
    EXPECT_FALSE(IsInternetAddress(".a@b"));
    EXPECT_FALSE(IsInternetAddress("a..b@c"));
    EXPECT_FALSE(IsInternetAddress("a@b."));
    EXPECT_FALSE(IsInternetAddress("ab"));
    EXPECT_FALSE(IsInternetAddress("a b@c"));
    EXPECT_FALSE(IsInternetAddress("<a@b>"));
    EXPECT_EQ(ClassifyAddress("@ABCDEFG"), AddressKind::Device);
    EXPECT_EQ(ClassifyAddress("a@b;c@d;e@f"), AddressKind::Internet);
    EXPECT_EQ(ClassifyAddress("a@b;"), AddressKind::None);
    EXPECT_EQ(ClassifyAddress("icq12345"), AddressKind::Icq);
    EXPECT_EQ(ClassifyAddress("ICQ"), AddressKind::None);
    EXPECT_EQ(ClassifyAddress("ICQ12a"), AddressKind::None);
    EXPECT_EQ(ClassifyAddress(""), AddressKind::None);
}

TEST(MessageIdTest, WritesSixBitsPerCharacterLowFirst) {
    EXPECT_EQ(MakeMessageId(64, 1), "AB,B");
    EXPECT_EQ(MakeMessageId(0, 0), ",");
    EXPECT_EQ(MakeMessageId(63, 62), "`,_");
    // A present-day time and the largest owner still fit the 13 characters read back.
    EXPECT_LE(MakeMessageId(0xFFFFFFFFull, 0xFFFFFFFFu).size(), 13u);
}

} // namespace
} // namespace tv::mail
