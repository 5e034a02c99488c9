#include "MultipartForm.h"
#include <gtest/gtest.h>

namespace tv::http {
namespace {

std::vector<std::string> Names(const std::vector<FormField>& fields) {
    std::vector<std::string> names;
    for (const FormField& field : fields)
        names.push_back(field.name + "=" + field.value);
    return names;
}

TEST(MultipartForm, FieldCollectionStopsAtTheFirstPieceWithoutOneEquals) {
    EXPECT_EQ(Names(ParseFormFields("user=anna&id=7")), (std::vector<std::string>{"user=anna", "id=7"}));
    EXPECT_EQ(Names(ParseFormFields("a=1&b&c=3")), (std::vector<std::string>{"a=1"}));
    EXPECT_EQ(Names(ParseFormFields("a=1&&c=3")), (std::vector<std::string>{"a=1"}));
    EXPECT_EQ(Names(ParseFormFields("a=1&b=2=3&c=3")), (std::vector<std::string>{"a=1"}));
    EXPECT_EQ(Names(ParseFormFields("a=")), std::vector<std::string>{});
    EXPECT_TRUE(ParseFormFields("").empty());
}

TEST(MultipartForm, QuotesAndLineEndsCannotBreakTheHeader) {
    EXPECT_EQ(EscapeDispositionText("a\"b\r\nc"), "a%22b%0D%0Ac");
    EXPECT_EQ(EscapeDispositionText("C:\\Users\\anna\\report.txt"), "C:\\Users\\anna\\report.txt");
}

TEST(MultipartForm, BodyHasFieldsThenFileThenClosingLine) {
    const std::string body = BuildMultipartBody({{"user", "anna"}}, "r\"1.txt", std::string("x\0y", 3));
    const std::string expected =
        std::string("-----------------------------7d0b038a0aa4\r\n"
                    "Content-Disposition: form-data; name=\"user\";\r\n\r\n"
                    "anna\r\n"
                    "-----------------------------7d0b038a0aa4\r\n"
                    "Content-Disposition: form-data; name=\"file1\"; filename=\"r%221.txt\"\r\n"
                    "Content-Type: application/octet-stream\r\n\r\n"
                    "x") +
        std::string(1, '\0') + "y\r\n-----------------------------7d0b038a0aa4--\r\n";
    EXPECT_EQ(body, expected);
    EXPECT_EQ(MultipartRequestHeaders(1234),
              "Content-Type: multipart/form-data; boundary=---------------------------7d0b038a0aa4\r\n"
              "Content-Length: 1234\r\n");
}

TEST(MultipartForm, ReplyHeaderNeedsThirtyTwoBytesStartingWithOk) {
    std::string reply(32, ' ');
    reply[0] = 'o';
    reply[1] = 'K';
    EXPECT_TRUE(IsOkReply(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
    EXPECT_FALSE(IsOkReply(reinterpret_cast<const std::uint8_t*>(reply.data()), 31));
    reply[0] = 'E';
    reply[1] = 'R';
    EXPECT_FALSE(IsOkReply(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
}

} // namespace
} // namespace tv::http
