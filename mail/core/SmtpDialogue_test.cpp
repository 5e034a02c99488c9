#include "SmtpDialogue.h"
#include "MailText.h"
#include "testing/ScriptedPeer.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

using testing::ScriptedPeer;

// The device service's SMTP side: an opening line, then one answer per line, the empty line
// after each message included; message text between DATA and "." is collected.
struct FakeSmtpServer {
    bool inData = false;
    std::string data;
    std::vector<std::string> messages;
    int rcptSeen = 0;
    int refuseRcpt = 0; // refuse the n-th recipient (1-based), 0: none
    bool refuseHelo = false;

    std::string Answer(const std::string& line) {
        if (inData) {
            if (line == ".") {
                inData = false;
                messages.push_back(data);
                data.clear();
                return "250 accepted\r\n";
            }
            data += line + "\r\n";
            return {};
        }
        if (line.rfind("RCPT TO:", 0) == 0 && ++rcptSeen == refuseRcpt)
            return "550 no such user\r\n";
        if (line == "DATA") {
            inData = true;
            return "354 go on\r\n";
        }
        if (line.rfind("HELO", 0) == 0 && refuseHelo)
            return "500 who\r\n";
        return "250 ok\r\n";
    }
};

class Letters final : public OutgoingLetters {
  public:
    explicit Letters(std::vector<Letter> letters) : letters_(std::move(letters)) {}
    bool Next(View& view) override {
        if (next_ >= letters_.size())
            return false;
        const Letter& l = letters_[next_++];
        view.from = l.from.c_str();
        view.to = l.to.c_str();
        view.message = l.message.c_str();
        return true;
    }
    void Acknowledge(long position) override { acknowledged.push_back(position); }
    std::vector<long> acknowledged;

  private:
    std::vector<Letter> letters_;
    size_t next_ = 0;
};

struct SmtpFixture : ::testing::Test {
    FakeSmtpServer server;
    ScriptedPeer peer{"220 service ready\r\n",
                      [this](const std::string& line) { return server.Answer(line); }};
    LineConnection connection{peer};
    SmtpDialogue dialogue{connection, "zelvan.net", {}};
};

TEST_F(SmtpFixture, EmptySendGreetsAndReadsOneMoreReply) {
    Letters none({});
    EXPECT_EQ(dialogue.Send("ABCDEFG", none), MailResult::Ok);
    EXPECT_EQ(peer.Lines(), (std::vector<std::string>{"HELO ABCDEFG"}));
    EXPECT_EQ(peer.Unread(), "");
}

TEST_F(SmtpFixture, SendsToEveryRecipientStuffsDotsAndAcknowledges) {
    Letters letters({{"x@y", " a@b.c ; d@e.f;;g@h.i ", "Subject: s\r\n\r\n.hidden\r\nbody\r\n.\r\n"},
                     {"", "z@z.z", "second\r\n.\r\n"}});
    ASSERT_EQ(dialogue.Send("USERID1", letters), MailResult::Ok);
    std::vector<std::string> expected = {"HELO USERID1",
                                         "MAIL FROM:<USERID1@zelvan.net>",
                                         "RCPT TO:<a@b.c>",
                                         "RCPT TO:<d@e.f>",
                                         "RCPT TO:<g@h.i>",
                                         "DATA",
                                         "Subject: s",
                                         "",
                                         "..hidden",
                                         "body",
                                         ".",
                                         "",
                                         "MAIL FROM:<USERID1@zelvan.net>",
                                         "RCPT TO:<z@z.z>",
                                         "DATA",
                                         "second",
                                         ".",
                                         ""};
    EXPECT_EQ(peer.Lines(), expected);
    EXPECT_EQ(letters.acknowledged, (std::vector<long>{0, 1}));
    ASSERT_EQ(server.messages.size(), 2u);
    EXPECT_EQ(DotUnstuffText(server.messages[0]), "Subject: s\r\n\r\n.hidden\r\nbody\r\n");
    EXPECT_EQ(peer.Unread(), "") << "every reply was read, one step behind";
}

// A refused recipient fails its letter alone: the letter is abandoned before DATA (no part of it
// reaches the recipients the server accepted), never acknowledged, and the letters after it are
// sent; Send reports that not every letter went. The replies stay one step behind throughout.
TEST_F(SmtpFixture, RefusedRecipientFailsItsLetterAloneAndTheOthersGoOn) {
    server.refuseRcpt = 2;
    Letters letters(
        {{"", "a@b", "one\r\n.\r\n"}, {"", "c@d;e@f", "two\r\n.\r\n"}, {"", "g@h", "three\r\n.\r\n"}});
    EXPECT_EQ(dialogue.Send("U", letters), MailResult::Unexpected);
    EXPECT_EQ(letters.acknowledged, (std::vector<long>{0, 2}));
    EXPECT_EQ(server.messages, (std::vector<std::string>{"one\r\n", "three\r\n"}));
    std::vector<std::string> expected = {"HELO U",
                                         "MAIL FROM:<U@zelvan.net>",
                                         "RCPT TO:<a@b>",
                                         "DATA",
                                         "one",
                                         ".",
                                         "",
                                         "MAIL FROM:<U@zelvan.net>",
                                         "RCPT TO:<c@d>",
                                         "RCPT TO:<e@f>",
                                         "RSET",
                                         "MAIL FROM:<U@zelvan.net>",
                                         "RCPT TO:<g@h>",
                                         "DATA",
                                         "three",
                                         ".",
                                         ""};
    EXPECT_EQ(peer.Lines(), expected);
    EXPECT_EQ(peer.Unread(), "");
}

// The last recipient of a letter is answered before DATA goes: its refusal abandons the letter
// as well, and receiving after TURN finds the dialogue in step.
TEST_F(SmtpFixture, RefusedLastRecipientAbandonsTheLetterBeforeData) {
    server.refuseRcpt = 1;
    Letters letters({{"", "a@b", "one\r\n.\r\n"}, {"", "c@d", "two\r\n.\r\n"}});
    EXPECT_EQ(dialogue.Send("U", letters), MailResult::Unexpected);
    EXPECT_EQ(letters.acknowledged, (std::vector<long>{1}));
    EXPECT_EQ(server.messages, (std::vector<std::string>{"two\r\n"}));
    std::vector<std::string> expected = {"HELO U",
                                         "MAIL FROM:<U@zelvan.net>",
                                         "RCPT TO:<a@b>",
                                         "RSET",
                                         "MAIL FROM:<U@zelvan.net>",
                                         "RCPT TO:<c@d>",
                                         "DATA",
                                         "two",
                                         ".",
                                         ""};
    EXPECT_EQ(peer.Lines(), expected);
    EXPECT_EQ(peer.Unread(), "");

    FakeSmtpServer alone;
    alone.refuseRcpt = 1;
    ScriptedPeer peer2("220 hi\r\n", [&](const std::string& line) {
        if (line == "TURN")
            return std::string("250 turning\r\nQUIT\r\n");
        return alone.Answer(line);
    });
    LineConnection connection2(peer2);
    SmtpDialogue dialogue2(connection2, "d", {});
    Letters one({{"", "a@b", "one\r\n.\r\n"}});
    EXPECT_EQ(dialogue2.Send("U", one), MailResult::Unexpected);
    EXPECT_TRUE(one.acknowledged.empty());
    EXPECT_TRUE(alone.messages.empty());
    Letter letter;
    EXPECT_EQ(dialogue2.Receive("U", letter), MailResult::NoLetter) << "TURN is answered in step";
    EXPECT_EQ(peer2.Unread(), "");
}

// A letter whose recipients cannot go on a command line fails alone: it is never acknowledged,
// the letters after it are still sent, and Send reports that not every letter went.
TEST_F(SmtpFixture, UnsafeRecipientsFailTheirLetterBeforeAnyCommandAndTheOthersGoOn) {
    Letters letters({{"", "a@b>\r\nRCPT TO:<evil@x", "m\r\n.\r\n"}, {"", "good@x.y", "fine\r\n.\r\n"}});
    EXPECT_EQ(dialogue.Send("U", letters), MailResult::Unexpected);
    for (const std::string& line : peer.Lines())
        EXPECT_EQ(line.find("evil"), std::string::npos) << line;
    EXPECT_EQ(letters.acknowledged, (std::vector<long>{1}));
    ASSERT_EQ(server.messages.size(), 1u);
    EXPECT_EQ(server.messages[0], "fine\r\n");
    EXPECT_EQ(peer.Unread(), "") << "the replies stay one step behind";
}

TEST_F(SmtpFixture, RefusedGreetingFails) {
    server.refuseHelo = true;
    peer = ScriptedPeer("500 go away\r\n", [this](const std::string& line) { return server.Answer(line); });
    Letters none({});
    EXPECT_EQ(dialogue.Send("U", none), MailResult::Fail);
    Letter letter;
    EXPECT_EQ(dialogue.Receive("U", letter), MailResult::Fail);
    EXPECT_EQ(dialogue.CurrentState(), SmtpDialogue::State::NotGreeted);
}

TEST_F(SmtpFixture, BodyTimeOutFollowsTheMessageLength) {
    std::string message(10000 - 5, 'm');
    message += "\r\n.\r\n";
    Letters letters({{"", "a@b", message}});
    ASSERT_EQ(dialogue.Send("U", letters), MailResult::Ok);
    ASSERT_GE(peer.Timeouts().size(), 2u);
    EXPECT_EQ(peer.Timeouts()[0], (TimeValue{40, 0}));
    EXPECT_EQ(peer.Timeouts()[1], (TimeValue{30, 0}));
}

// After TURN the server delivers letters; we answer.
struct TurnFixture : ::testing::Test {
    std::vector<std::string> deliveries; // each: sender, recipient and data
    size_t delivered = 0;
    std::vector<std::string> verdicts;
    ScriptedPeer peer{"220 ready\r\n"};
    LineConnection connection{peer};
    SmtpDialogue dialogue{connection, "zelvan.net", {}};

    void Deliver(std::vector<std::pair<std::string, std::string>> letters) {
        // letter: wire data after DATA (ending "\r\n.\r\n" or ".\r\n")
        peer.SetHandler([this, letters, step = 0](const std::string& line) mutable -> std::string {
            if (line.rfind("HELO", 0) == 0)
                return "250 hello\r\n";
            if (line == "TURN")
                return "250 turning\r\n" + Next(letters.size());
            if (line == "354 ok")
                return letters[delivered - 1].second;
            if (line == "250 ok" || line[0] == '4' || line[0] == '5') {
                if (++step % 3 == 0 || line != "250 ok") { // the verdict on a letter
                    verdicts.push_back(line);
                    step = 0;
                    return Next(letters.size());
                }
                return step == 1 ? "RCPT TO:<" + letters[delivered - 1].first + ">\r\n" : "DATA\r\n";
            }
            return {};
        });
    }
    std::string Next(size_t count) {
        if (delivered == count)
            return "QUIT\r\n";
        ++delivered;
        return "MAIL FROM:<sender@x.y>\r\n";
    }
};

TEST_F(TurnFixture, ReceivesLettersInPiecesUnstuffedAndEndsAtQuit) {
    Deliver({{"u@zelvan.net", "Subject: one\r\n\r\n..dot\r\nbody\r\n.\r\n"}, {"u@zelvan.net", ".\r\n"}});
    peer.SetPieceSize(3);
    std::vector<Letter> letters;
    ASSERT_EQ(dialogue.ReceiveAll("USERID1", [&](Letter&& l) { return letters.push_back(l), true; }),
              MailResult::Ok);
    ASSERT_EQ(letters.size(), 2u);
    EXPECT_EQ(letters[0].from, "sender@x.y");
    EXPECT_EQ(letters[0].to, "u@zelvan.net");
    EXPECT_EQ(letters[0].message, "Subject: one\r\n\r\n.dot\r\nbody");
    EXPECT_EQ(letters[1].message, "") << "an empty message";
    EXPECT_EQ(verdicts, (std::vector<std::string>{"250 ok", "250 ok"}));
}

TEST_F(TurnFixture, RefusedLetterIsAnsweredWithAnError) {
    Deliver({{"u@z", "text\r\n.\r\n"}});
    Letter letter;
    ASSERT_EQ(dialogue.Receive("U", letter), MailResult::Ok);
    EXPECT_EQ(dialogue.Receive("U", letter), MailResult::Fail) << "the letter was not ended";
    ASSERT_EQ(dialogue.EndReceive(1), MailResult::Ok);
    EXPECT_EQ(verdicts, (std::vector<std::string>{"500 error"}));
    EXPECT_EQ(dialogue.Receive("U", letter), MailResult::NoLetter);
}

// A letter the caller could not keep is answered with a transient failure: the server keeps it.
TEST_F(TurnFixture, ReceiveAllRefusesWhatTheCallerCouldNotKeep) {
    Deliver({{"u@z", "one\r\n.\r\n"}, {"u@z", "two\r\n.\r\n"}});
    std::vector<std::string> kept;
    ASSERT_EQ(dialogue.ReceiveAll("U",
                                  [&](Letter&& l) {
                                      if (l.message == "one")
                                          return false;
                                      kept.push_back(l.message);
                                      return true;
                                  }),
              MailResult::Ok);
    EXPECT_EQ(kept, (std::vector<std::string>{"two"}));
    ASSERT_EQ(verdicts.size(), 2u);
    EXPECT_EQ(verdicts[0].substr(0, 1), "4");
    EXPECT_EQ(verdicts[1], "250 ok");
}

TEST(MailText, QuitEndsReceivingOnlyAsTheVerb) {
    EXPECT_TRUE(HasVerb("QUIT", "QUIT"));
    EXPECT_TRUE(HasVerb("quit now", "QUIT"));
    EXPECT_FALSE(HasVerb("MAIL FROM:<quit@QUIT.com>", "QUIT"));
}

TEST(MailText, DotStuffing) {
    EXPECT_EQ(DotStuffMessage(".a\r\nb\r\n.\r\n"), "..a\r\nb\r\n.\r\n");
    EXPECT_EQ(DotStuffMessage("no terminator"), "no terminator\r\n.\r\n");
    EXPECT_EQ(DotStuffMessage(""), ".\r\n");
    EXPECT_EQ(DotUnstuffText("..a\r\n.b\r\nc.\r\n"), ".a\r\nb\r\nc.\r\n");
}

TEST(MailText, Recipients) {
    EXPECT_EQ(*SplitRecipients(" a ;; b;"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(SplitRecipients("")->empty());
    EXPECT_FALSE(SplitRecipients("a;<b>"));
    EXPECT_FALSE(SplitRecipients("a\tb"));
    EXPECT_EQ(*AngleAddress("MAIL FROM:<a@b> SIZE=1"), "a@b");
    EXPECT_FALSE(AngleAddress("MAIL FROM: a@b"));
}

} // namespace
} // namespace tv::mail
