#include "Pop3Dialogue.h"
#include "testing/ScriptedPeer.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>

namespace tv::mail {
namespace {

using testing::ScriptedPeer;

// A POP3 mailbox as the device service's server keeps it; answers one line per command.
struct FakeMailbox {
    std::vector<std::string> messages; // wire form (lines ending CR LF, already dot-stuffed)
    std::map<long, bool> deleted;
    std::map<long, bool> erased;
    bool refusePass = false;
    bool refuseEras = false;
    bool refuseRetr = false;
    std::map<long, bool> refuseDele; // messages whose DELE is answered -ERR
    std::map<long, long> listedSize; // sizes LIST reports instead of the real ones

    std::string Answer(const std::string& line) {
        auto number = [&](size_t at) { return std::stol(line.substr(at)); };
        if (line.rfind("USER ", 0) == 0)
            return "+OK user\r\n";
        if (line == "PASS ")
            return refusePass ? "-ERR no\r\n" : "+OK pass\r\n";
        if (line == "STAT")
            return "+OK " + std::to_string(messages.size()) + " 1000\r\n";
        if (line.rfind("LIST ", 0) == 0) {
            long n = number(5);
            if (n < 1 || n > static_cast<long>(messages.size()))
                return "-ERR no such message\r\n";
            long size = listedSize.count(n) ? listedSize[n] : static_cast<long>(messages[n - 1].size());
            return "+OK " + std::to_string(n) + " " + std::to_string(size) + "\r\n";
        }
        if (line.rfind("RETR ", 0) == 0) {
            long n = number(5);
            if (refuseRetr || n < 1 || n > static_cast<long>(messages.size()))
                return "-ERR no such message\r\n";
            return "+OK message follows\r\n" + messages[n - 1] + ".\r\n";
        }
        if (line.rfind("DELE ", 0) == 0) {
            if (refuseDele.count(number(5)))
                return "-ERR cannot delete\r\n";
            deleted[number(5)] = true;
            return "+OK deleted\r\n";
        }
        if (line.rfind("ERAS ", 0) == 0) {
            if (refuseEras)
                return "-ERR not now\r\n";
            erased[number(5)] = true;
            return "+OK erased\r\n";
        }
        if (line == "QUIT")
            return "+OK bye\r\n";
        return "-ERR unknown\r\n";
    }
};

struct Pop3Fixture : ::testing::Test {
    FakeMailbox box;
    ScriptedPeer peer{"+OK greeting\r\n", [this](const std::string& line) { return box.Answer(line); }};
    LineConnection connection{peer};
    std::vector<std::string> trace;
    Pop3Dialogue dialogue{connection, [this](const std::string& text) { trace.push_back(text); }};
};

TEST_F(Pop3Fixture, LoginReadsTheGreetingAfterUserAndSendsAnEmptyPassword) {
    box.messages = {"Subject: a\r\n\r\nbody\r\n"};
    std::string message;
    ASSERT_EQ(dialogue.Receive("ABCDEFG", message), MailResult::Ok);
    ASSERT_GE(peer.Lines().size(), 4u);
    EXPECT_EQ(peer.Lines()[0], "USER ABCDEFG");
    EXPECT_EQ(peer.Lines()[1], "PASS ");
    EXPECT_EQ(peer.Lines()[2], "STAT");
    EXPECT_EQ(message, "Subject: a\r\n\r\nbody");
    EXPECT_EQ(dialogue.CurrentState(), Pop3Dialogue::State::LetterOut);
}

TEST_F(Pop3Fixture, KeepDeleteAndDeclineActOnTheRetrievedMessage) {
    box.messages = {"one\r\n", "two\r\n", "three\r\n"};
    std::string message;
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, "one");
    ASSERT_EQ(dialogue.EndReceive(Pop3Dialogue::kKeep), MailResult::Ok);
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, "two");
    ASSERT_EQ(dialogue.EndReceive(Pop3Dialogue::kDelete), MailResult::Ok);
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    ASSERT_EQ(dialogue.EndReceive(Pop3Dialogue::kDecline), MailResult::Ok);
    EXPECT_EQ(dialogue.Receive("U", message), MailResult::NoLetter);
    EXPECT_EQ(box.deleted, (std::map<long, bool>{{2, true}}));
    EXPECT_EQ(box.erased, (std::map<long, bool>{{3, true}}));
    EXPECT_EQ(dialogue.EndReceive(Pop3Dialogue::kDelete), MailResult::Fail) << "nothing out";
}

TEST_F(Pop3Fixture, OversizedMessageIsDeclinedAndTheNextRetrieved) {
    box.messages = {"big\r\n", "exact\r\n", "small\r\n"};
    box.listedSize[1] = Pop3Dialogue::kLargestMessage + 1;
    box.listedSize[2] = Pop3Dialogue::kLargestMessage;
    std::string message;
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, "exact");
    EXPECT_EQ(box.erased, (std::map<long, bool>{{1, true}}));
    EXPECT_NE(std::find(peer.Lines().begin(), peer.Lines().end(), "ERAS 1 Message was declined by recipient"),
              peer.Lines().end());
}

TEST_F(Pop3Fixture, RefusedErasKeepsTheMessageAdvancesAndNeverDeletesAnUnreadOne) {
    box.messages = {"big\r\n", "small\r\n"};
    box.listedSize[1] = Pop3Dialogue::kLargestMessage + 1;
    box.refuseEras = true;
    std::string message;
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, "small");
    ASSERT_EQ(dialogue.EndReceive(Pop3Dialogue::kDelete), MailResult::Ok);
    EXPECT_EQ(box.deleted, (std::map<long, bool>{{2, true}})) << "only the message taken";
    EXPECT_TRUE(box.erased.empty());
    EXPECT_FALSE(trace.empty());
}

// A refused DELE leaves the message on the server, but the dialogue goes on with the next one:
// it never hands out the same message again.
TEST_F(Pop3Fixture, RefusedDeleKeepsTheMessageAndGoesOnWithTheNext) {
    box.messages = {"one\r\n", "two\r\n", "three\r\n"};
    box.refuseDele[1] = true;
    std::string message;
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, "one");
    EXPECT_EQ(dialogue.EndReceive(Pop3Dialogue::kDelete), MailResult::Fail) << "the caller learns it stays";
    EXPECT_EQ(dialogue.CurrentState(), Pop3Dialogue::State::Ready);
    EXPECT_FALSE(trace.empty());
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, "two");
    ASSERT_EQ(dialogue.EndReceive(Pop3Dialogue::kDelete), MailResult::Ok);
    std::vector<std::string> taken;
    box.refuseDele[3] = true;
    EXPECT_EQ(dialogue.ReceiveAll("U", [&](std::string&& m) { return taken.push_back(m), true; }),
              MailResult::Ok);
    EXPECT_EQ(taken, (std::vector<std::string>{"three"}));
    EXPECT_EQ(box.deleted, (std::map<long, bool>{{2, true}}));
}

TEST_F(Pop3Fixture, RefusedLoginFailsAndReturnsToNotLoggedIn) {
    box.messages = {"one\r\n"};
    box.refusePass = true;
    std::string message;
    EXPECT_EQ(dialogue.Receive("U", message), MailResult::Fail);
    EXPECT_EQ(dialogue.CurrentState(), Pop3Dialogue::State::NotLoggedIn);
    int taken = 0;
    EXPECT_EQ(dialogue.ReceiveAll("U", [&](std::string&&) { return ++taken, true; }), MailResult::Fail);
    EXPECT_EQ(taken, 0);
}

TEST_F(Pop3Fixture, RefusedRetrFailsAtOnce) {
    box.messages = {"one\r\n"};
    box.refuseRetr = true;
    std::string message;
    EXPECT_EQ(dialogue.Receive("U", message), MailResult::Fail);
    EXPECT_TRUE(box.deleted.empty());
}

TEST_F(Pop3Fixture, MessageLinesAreUnstuffedAndLongLinesKeptWhole) {
    std::string longLine(600, 'q');
    // A long line whose 256th byte is "." must not end the message early.
    std::string tricky = std::string(255, 'a') + ".";
    box.messages = {"..leading dot\r\n" + longLine + "\r\n" + tricky + "\r\n...\r\nend\r\n"};
    peer.SetPieceSize(17);
    std::string message;
    ASSERT_EQ(dialogue.Receive("U", message), MailResult::Ok);
    EXPECT_EQ(message, ".leading dot\r\n" + longLine + "\r\n" + tricky + "\r\n..\r\nend");
}

TEST_F(Pop3Fixture, ReceiveAllTakesAndDeletesEveryMessage) {
    box.messages = {"one\r\n", "two\r\n"};
    std::vector<std::string> taken;
    ASSERT_EQ(dialogue.ReceiveAll("U", [&](std::string&& m) { return taken.push_back(m), true; }),
              MailResult::Ok);
    EXPECT_EQ(taken, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(box.deleted.size(), 2u);
    EXPECT_EQ(dialogue.Disconnect(), MailResult::Ok);
    EXPECT_EQ(dialogue.Disconnect(), MailResult::Fail);
}

TEST_F(Pop3Fixture, ConnectionClosingDuringRetrFailsWithoutDeleting) {
    box.messages = {"one\r\n"};
    peer.SetHandler([this](const std::string& line) {
        std::string answer = box.Answer(line);
        if (line.rfind("RETR", 0) == 0)
            return std::string("+OK\r\npartial line\r\n"); // then the peer is gone
        return answer;
    });
    std::string message;
    EXPECT_EQ(dialogue.Receive("U", message), MailResult::Fail);
    EXPECT_EQ(dialogue.CurrentState(), Pop3Dialogue::State::NotLoggedIn);
    EXPECT_TRUE(box.deleted.empty());
}

// The server deletes only at QUIT: messages taken before a broken connection are still there, so
// handing them out would have them stored twice.
TEST_F(Pop3Fixture, ConnectionClosingDuringReceiveAllFailsTheWholeReceive) {
    box.messages = {"one\r\n", "two\r\n"};
    peer.SetHandler([this](const std::string& line) {
        if (line == "RETR 2")
            return std::string("+OK\r\npartial line\r\n"); // then the peer is gone
        return box.Answer(line);
    });
    EXPECT_EQ(dialogue.ReceiveAll("U", [](std::string&&) { return true; }), MailResult::Fail);
    EXPECT_EQ(dialogue.CurrentState(), Pop3Dialogue::State::NotLoggedIn);
}

// A message the caller could not keep is not deleted.
TEST_F(Pop3Fixture, ReceiveAllDeletesOnlyWhatTheCallerKept) {
    box.messages = {"one\r\n", "two\r\n"};
    std::vector<std::string> kept;
    ASSERT_EQ(dialogue.ReceiveAll("U",
                                  [&](std::string&& m) {
                                      if (m == "one")
                                          return false;
                                      kept.push_back(m);
                                      return true;
                                  }),
              MailResult::Ok);
    EXPECT_EQ(kept, (std::vector<std::string>{"two"}));
    EXPECT_EQ(box.deleted, (std::map<long, bool>{{2, true}}));
}

TEST_F(Pop3Fixture, EmptyMailboxGivesNoLetter) {
    std::string message;
    EXPECT_EQ(dialogue.Receive("U", message), MailResult::NoLetter);
}

TEST_F(Pop3Fixture, UserIdWithLineBreakNeverReachesTheServer) {
    std::string message;
    EXPECT_EQ(dialogue.Receive("U\r\nDELE 1", message), MailResult::Fail);
    EXPECT_TRUE(peer.Lines().empty());
}

} // namespace
} // namespace tv::mail
