#include "InputParser.h"
#include <gtest/gtest.h>
#include <string>

using namespace zvport;

namespace {

class Collector : public InputParser::Output {
public:
    void PostMessage(DeviceMessage message) override { messages.push_back(std::move(message)); }
    void AppendResponse(std::string_view text) override { response.append(text); }

    std::vector<DeviceMessage> messages;
    std::string response;
};

struct Parsed {
    std::vector<DeviceMessage> messages;
    std::string response;
};

Parsed ParseAll(std::string_view input, RequestKind kind, RequestState state = RequestState::Transferring) {
    InputParser parser;
    Collector out;
    RunningRequestView running{kind, state, 0};
    parser.Parse({reinterpret_cast<const uint8_t*>(input.data()), input.size()}, running, 0, out);
    return {std::move(out.messages), std::move(out.response)};
}

} // namespace

TEST(InputParser, BlockRequestsAreDigitsAfterSendAndOnlyWhileSending) {
    auto sending = ParseAll("send12\r\nsendx\n", RequestKind::SendFile);
    ASSERT_EQ(sending.messages.size(), 1u);
    EXPECT_EQ(sending.messages[0].type, MessageType::SendBlock);
    EXPECT_EQ(sending.messages[0].parameter, 12u);
    EXPECT_EQ(sending.response, "sendx\n");

    auto console = ParseAll("send12\n", RequestKind::Console);
    EXPECT_TRUE(console.messages.empty());
    EXPECT_EQ(console.response, "send12\n");
}

TEST(InputParser, KeywordsAreCaseSensitiveAndPromptsStayInTheResponse) {
    auto parsed = ParseAll("ack\nAck\nReady >\ndone\n", RequestKind::Console);
    ASSERT_EQ(parsed.messages.size(), 3u);
    EXPECT_EQ(parsed.messages[0].type, MessageType::Ack);
    EXPECT_EQ(parsed.messages[1].type, MessageType::Ready);
    EXPECT_EQ(parsed.messages[2].type, MessageType::Done);
    EXPECT_EQ(parsed.response, "Ack\nReady >\n");
}

TEST(InputParser, LongLinesPassAsTextAndConfirmBytesAreTakenOut) {
    std::string longLine(36, 'x');
    longLine += "done\n";
    auto parsed = ParseAll(longLine + "ab\x02" "c\n", RequestKind::Console);
    ASSERT_EQ(parsed.messages.size(), 1u);
    EXPECT_EQ(parsed.messages[0].type, MessageType::Confirm);
    EXPECT_EQ(parsed.messages[0].parameter, 2u);
    EXPECT_EQ(parsed.response, longLine + "abc\n");
}

TEST(InputParser, BootRequestsGetUnmatchedLinesAsMessages) {
    auto parsed = ParseAll("Preparing to load ZvOS\nbooting\x01\n", RequestKind::Boot);
    ASSERT_EQ(parsed.messages.size(), 3u);
    EXPECT_EQ(parsed.messages[0].type, MessageType::Loading);
    EXPECT_EQ(parsed.messages[1].type, MessageType::Confirm);
    EXPECT_EQ(parsed.messages[2].type, MessageType::BootText);
    EXPECT_EQ(std::string(parsed.messages[2].data.begin(), parsed.messages[2].data.end()), std::string("booting\0", 8));
}

TEST(InputParser, IdleInputGoesToTheResponseUnparsed) {
    auto parsed = ParseAll("ack\n\x02", RequestKind::Undefined);
    EXPECT_TRUE(parsed.messages.empty());
    EXPECT_EQ(parsed.response, "ack\n\x02");
}
