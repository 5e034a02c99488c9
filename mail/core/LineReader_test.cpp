#include "LineChannel.h"
#include "testing/ScriptedPeer.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

using testing::ScriptedPeer;

std::string Read(ByteSource& source, LineEnd mode, size_t max, bool* complete = nullptr) {
    std::string buffer(max + 1, '\0');
    LineRead read = ReadLine(source, mode, buffer.data(), max);
    if (complete)
        *complete = read.complete;
    return buffer.substr(0, read.length);
}

TEST(LineReader, TakesNothingBeyondTheLineEnd) {
    ScriptedPeer peer("abc\r\ndef");
    EXPECT_EQ(Read(peer, LineEnd::CrLf, 255), "abc");
    char raw[8];
    ASSERT_EQ(peer.Receive(raw, sizeof raw), 3u);
    EXPECT_EQ(std::string(raw, 3), "def");
}

TEST(LineReader, LineEndModes) {
    ScriptedPeer crlf("one\ntwo\r\n");
    EXPECT_EQ(Read(crlf, LineEnd::CrLf, 255), "one\ntwo") << "a bare LF does not end a CR LF line";
    ScriptedPeer lf("one\r\ntwo\n");
    EXPECT_EQ(Read(lf, LineEnd::Lf, 255), "one\r");
    EXPECT_EQ(Read(lf, LineEnd::Lf, 255), "two");
    ScriptedPeer either("one\ntwo\r\n");
    EXPECT_EQ(Read(either, LineEnd::CrLfOrLf, 255), "one");
    EXPECT_EQ(Read(either, LineEnd::CrLfOrLf, 255), "two");
}

TEST(LineReader, LongLineFillsTheRoomAndLeavesTheRest) {
    std::string line(300, 'x');
    ScriptedPeer peer(line + "\r\nnext\r\n");
    bool complete = true;
    EXPECT_EQ(Read(peer, LineEnd::CrLf, 255, &complete).size(), 255u);
    EXPECT_FALSE(complete);
    EXPECT_EQ(Read(peer, LineEnd::CrLf, 255, &complete).size(), 45u);
    EXPECT_TRUE(complete);
    EXPECT_EQ(Read(peer, LineEnd::CrLf, 255), "next");
}

TEST(LineReader, LineArrivingInSmallPiecesAndCrLfSplitAcrossThem) {
    for (size_t piece : {1u, 2u, 3u, 7u}) {
        ScriptedPeer peer("hello world\r\nrest");
        peer.SetPieceSize(piece);
        EXPECT_EQ(Read(peer, LineEnd::CrLf, 255), "hello world") << "pieces of " << piece;
        EXPECT_EQ(peer.Unread(), "rest");
    }
}

TEST(LineReader, PeerClosingIsAnErrorOfItsOwn) {
    ScriptedPeer empty;
    try {
        Read(empty, LineEnd::CrLf, 255);
        FAIL() << "no error";
    } catch (const ChannelError& error) {
        EXPECT_EQ(error.Code(), kEndOfStream);
    }
    ScriptedPeer partial("no line end");
    EXPECT_THROW(Read(partial, LineEnd::CrLf, 255), ChannelError);
}

TEST(LineConnection, WholeLinesOfAnyLengthAndShortReplies) {
    std::string longLine(700, 'y');
    ScriptedPeer peer(longLine + "\r\n" + std::string(254, 'z') + "\r\n" + std::string(300, 'r') + "\r\n");
    peer.SetPieceSize(13);
    LineConnection connection(peer);
    EXPECT_EQ(connection.ReadWholeLine(), longLine);
    // A line whose CR is the last byte that fits the first chunk still ends there.
    EXPECT_EQ(connection.ReadWholeLine(), std::string(254, 'z'));
    EXPECT_EQ(connection.ReadReply(), std::string(255, 'r')) << "a long reply is cut";
    connection.SendLine("x");
    EXPECT_THROW(connection.ReadReply(), ChannelError) << "and its rest is not taken for the next reply";
}

TEST(LineConnection, SendLineAddsCrLf) {
    ScriptedPeer peer;
    LineConnection connection(peer);
    connection.SendLine("NOOP");
    EXPECT_EQ(peer.Sent(), "NOOP\r\n");
}

TEST(TimeValue, NormalisedAndComputedIn64Bits) {
    EXPECT_EQ(TimeValue::Normalised(1, 2500000), (TimeValue{3, 500000}));
    EXPECT_EQ(TimeValue::Normalised(1, -1), (TimeValue{0, 999999}));
    EXPECT_EQ(TimeValue::FromMilliseconds(40000), (TimeValue{40, 0}));
    EXPECT_EQ(TimeValue::FromMilliseconds(40123), (TimeValue{40, 123000}));
    EXPECT_TRUE(TimeValue::FromMilliseconds(int64_t{1} << 45).IsInfinite());
}

} // namespace
} // namespace tv::mail
