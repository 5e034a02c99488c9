#include "PortTexts.h"
#include "TaggedText.h"
#include <gtest/gtest.h>

using namespace zvport;

TEST(TaggedText, TagIsBetweenTheFirstAngleBrackets) {
    EXPECT_EQ(ParseTag("<Command>|id|"), "Command");
    EXPECT_EQ(ParseTag("x<GetID"), "");
    EXPECT_FALSE(ParseTag("Command|id|"));
}

TEST(TaggedText, FieldsFollowTheTypeList) {
    ParsedFields fields;
    ASSERT_EQ(ParseFields("<RequestSend>|C:\\pc\\|a.txt|\n|/dev|b.txt|\n", "|str|str|\n|str|str|", fields),
              FieldParseResult::Ok);
    EXPECT_EQ(fields.strings, (std::vector<std::string>{"C:\\pc\\", "a.txt", "/dev", "b.txt"}));

    ParsedFields ints;
    ASSERT_EQ(ParseFields("<SetTimeOut>|  -250ms|extra|", "|int|", ints), FieldParseResult::Ok);
    EXPECT_EQ(ints.ints, std::vector<int32_t>{-250});
    ParsedFields none;
    ASSERT_EQ(ParseFields("<SetTimeOut>|abc|", "|int|", none), FieldParseResult::Ok);
    EXPECT_EQ(none.ints, std::vector<int32_t>{0});

    ParsedFields failed;
    EXPECT_EQ(ParseFields("<Command>|id", "|str|", failed), FieldParseResult::MissingField);
    EXPECT_EQ(ParseFields("<Command>|id|", "|long|", failed), FieldParseResult::UnknownType);
}

TEST(TaggedText, FieldAfterAMarker) {
    EXPECT_EQ(FieldAfter("<Connect>|2|<BaudRate>|115200|", "<Connect>"), "2");
    EXPECT_EQ(FieldAfter("<Connect>|2|<BaudRate>|115200|", "<BaudRate>"), "115200");
    EXPECT_FALSE(FieldAfter("<Connect>|2", "<Connect>"));
    EXPECT_FALSE(FieldAfter("|2|", "<Connect>"));
}

TEST(PortTexts, MessagesCarryEveryField) {
    PortRequestData send(RequestKind::SendFile);
    send.state = RequestState::Transferring;
    send.totalBytes = 1000;
    send.bytesDone = 512;
    EXPECT_EQ(FormatUpdateMessage(1, send), "<UPDATEMSG>\n|1|2|0|3|Error occured!!!|1000|512|");
    PortRequestData console(RequestKind::Console);
    EXPECT_EQ(FormatUpdateMessage(0, console), "<UPDATEMSG>\n|0|1|0|0|Error occured!!!|-1|-1|");
    PortRequestData boot(RequestKind::Boot);
    boot.resultClass = ResultClass::Cancelled;
    EXPECT_EQ(FormatUpdateMessage(2, boot),
              "<UPDATEMSG>\n<COOKIE>2</COOKIE>\n<TYPE>3</TYPE>\n<STATUS>4</STATUS>\n<MISTAKEMSG>Error "
              "occured!!!</MISTAKEMSG>\n<TOTALPROGRESS>0</TOTALPROGRESS>\n<PROGRESSDONE>0</PROGRESSDONE>\n</UPDATEMSG>");
    EXPECT_EQ(FormatInfo(3, 0, 5, 2000, 4096), "<GETINFODATA>|3|0|RECEIVE FILE FROM FLASH|5|2000|4096");
    EXPECT_FALSE(IsSafeDeviceName("a\"b"));
    EXPECT_FALSE(IsSafeDeviceName("a\nb"));
    EXPECT_TRUE(IsSafeDeviceName("/flash/My File.txt"));
}
