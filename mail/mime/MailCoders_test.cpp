#include "MailCoders.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

TEST(Base64, KeepsPaddingAndBreaksLinesOf76) {
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    std::string bytes(57, 'x'); // exactly one line of 76 characters
    std::string encoded = Base64Encode(bytes);
    EXPECT_EQ(encoded.size(), 78u);
    EXPECT_EQ(encoded.substr(76), "\r\n");
    std::string longer = Base64Encode(std::string(100, 'y'));
    EXPECT_EQ(longer.find("\r\n"), 76u);
}

TEST(Base64, LinesOfEveryLengthRoundTrip) {
    std::string all;
    for (int i = 0; i < 400; ++i)
        all += static_cast<char>(i * 7);
    for (size_t n = 0; n <= all.size(); ++n) {
        std::string encoded = Base64Encode(all.substr(0, n));
        size_t chars = (n + 2) / 3 * 4;
        ASSERT_EQ(encoded.size(), chars + chars / 76 * 2) << n;
        for (size_t at = 76; at < encoded.size(); at += 78)
            ASSERT_EQ(encoded.substr(at, 2), "\r\n") << n << " at " << at;
        EXPECT_EQ(Base64Decode(encoded), all.substr(0, n)) << n;
    }
}

TEST(Base64, DecodesWithAndWithoutPaddingAndIgnoresOtherCharacters) {
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YWI"), "ab");
    EXPECT_EQ(Base64Decode("YQ=="), "a");
    EXPECT_EQ(Base64Decode("YQ"), "a");
    EXPECT_EQ(Base64Decode("YW\r\nJj\r\n"), "abc");
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (size_t n = 0; n < all.size(); n += 37)
        EXPECT_EQ(Base64Decode(Base64Encode(all.substr(0, n))), all.substr(0, n)) << n;
}

TEST(QuotedPrintable, DecodesEscapesAndSoftBreaks) {
    EXPECT_EQ(QuotedPrintableDecode("a=3Db"), "a=b");
    EXPECT_EQ(QuotedPrintableDecode("a=\r\nb"), "ab");
    EXPECT_EQ(QuotedPrintableDecode("a=3db"), "a=3db") << "lower-case digits are copied";
    EXPECT_EQ(QuotedPrintableDecode("end="), "end=");
    EXPECT_EQ(QuotedPrintableDecode("end=4"), "end=4");
    EXPECT_EQ(QuotedPrintableDecode("=E9t=E9"), "\xE9t\xE9");
}

} // namespace
} // namespace tv::mail
