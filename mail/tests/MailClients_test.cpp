// ZvPOP3 and ZvSMTP against the test mail server, over real Winsock to 127.0.0.1.
#include "AllocationFaults.h"
#include "MailConnection.h"
#include "MailServerFixture.h"
#include "Handles.h"
#include "ZvLetterEnum.h"
#include "ZvPOP3.h"
#include "ZvSMTP.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

using com::ComPtr;
using testing::MailServer;

struct Apartment : ::testing::Environment {
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};
const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new Apartment);

std::string Message(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: user@zelvan.net\r\nSubject: " + subject + "\r\n\r\n" + body;
}

// A received letter's text: the stored file without the line end of its last line.
std::string AsReceived(const std::string& stored) {
    return stored.size() >= 2 && stored.compare(stored.size() - 2, 2, "\r\n") == 0 ? stored.substr(0, stored.size() - 2)
                                                                                    : stored;
}

class MailClients : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.Load()) << "run through mail_test.sh, which starts the test mail server";
        server.SetFaults("");
        server.PointClient("POP3", "127.0.0.1", server.pop3Port);
        server.PointClient("SMTP", "127.0.0.1", server.smtpPort);
    }
    void TearDown() override { server.SetFaults(""); }

    ComPtr<IZvMailClient> Create(const CLSID& clsid) {
        ComPtr<IZvMailClient> client;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                                   reinterpret_cast<void**>(&client)),
                  S_OK);
        return client;
    }
    static std::vector<ZVLETTER> Drain(IZvEnumLetters* letters) {
        std::vector<ZVLETTER> out;
        ZVLETTER letter{};
        long fetched = 0;
        while (letters->Next(1, &letter, &fetched) == S_OK)
            out.push_back(letter);
        return out;
    }
    static std::string Text(const char* s) { return s ? s : "<null>"; }

    MailServer server;
    char user_[8] = "POPUSR1";
};

TEST_F(MailClients, Pop3ReceiveAllTakesEveryMessageWholeAndDeletesThem) {
    std::string longLine(700, 'L');
    std::vector<std::string> messages = {Message("one", "first\r\n.hidden dot\r\n"),
                                         Message("two", longLine + "\r\n" + std::string(255, 'a') + ".\r\n..\r\n"),
                                         Message("three", "third\r\n")};
    server.FillMailbox("RALLUSR", messages);
    auto client = Create(CLSID_ZvPOP3);
    ComPtr<IZvEnumLetters> letters;
    ASSERT_EQ(client->ReceiveAll(const_cast<LPSTR>("RALLUSR"), &letters), S_OK);
    std::vector<ZVLETTER> got = Drain(letters.Get());
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(Text(got[i].strMessage), AsReceived(messages[i])) << i;
        EXPECT_EQ(got[i].strFrom, nullptr);
    }
    EXPECT_EQ(client->Disconnect(), S_OK);
    EXPECT_EQ(client->Disconnect(), E_FAIL);
    EXPECT_TRUE(server.Mailbox("RALLUSR").empty());
}

TEST_F(MailClients, Pop3OneByOneWithKeepDeleteAndDecline) {
    server.FillMailbox("ONEUSR1", {Message("keep", "k\r\n"), Message("delete", "d\r\n"), Message("decline", "x\r\n")});
    auto client = Create(CLSID_ZvPOP3);
    ZVLETTER letter{};
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("ONEUSR1"), &letter), S_OK);
    EXPECT_NE(Text(letter.strMessage).find("Subject: keep"), std::string::npos);
    CoTaskMemFree(letter.strMessage);
    EXPECT_EQ(client->EndReceive(1), S_OK);
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("ONEUSR1"), &letter), S_OK);
    EXPECT_NE(Text(letter.strMessage).find("Subject: delete"), std::string::npos);
    CoTaskMemFree(letter.strMessage);
    EXPECT_EQ(client->EndReceive(0), S_OK);
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("ONEUSR1"), &letter), S_OK);
    CoTaskMemFree(letter.strMessage);
    EXPECT_EQ(client->EndReceive(2), S_OK);
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("ONEUSR1"), &letter), S_FALSE);
    EXPECT_EQ(client->EndReceive(0), E_FAIL) << "no letter out";
    EXPECT_EQ(client->Disconnect(), S_OK);
    auto left = server.Mailbox("ONEUSR1");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("Subject: keep"), std::string::npos);
    EXPECT_EQ(server.Declined("ONEUSR1").size(), 1u);
}

TEST_F(MailClients, Pop3OversizedMessageDeclinedAndRefusedErasKeepsIt) {
    std::string big = Message("big", std::string(400100, 'b') + "\r\n");
    server.FillMailbox("BIGUSR1", {big, Message("small", "s\r\n")});
    server.SetFaults("eras-err\n");
    auto client = Create(CLSID_ZvPOP3);
    ZVLETTER letter{};
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("BIGUSR1"), &letter), S_OK);
    EXPECT_NE(Text(letter.strMessage).find("Subject: small"), std::string::npos);
    CoTaskMemFree(letter.strMessage);
    EXPECT_EQ(client->EndReceive(0), S_OK);
    EXPECT_EQ(client->Disconnect(), S_OK);
    auto left = server.Mailbox("BIGUSR1");
    ASSERT_EQ(left.size(), 1u) << "only the message taken is deleted";
    EXPECT_EQ(left[0], big);
}

TEST_F(MailClients, Pop3RefusedLoginFailsAndDeletesNothing) {
    server.FillMailbox("REFUSR1", {Message("a", "a\r\n")});
    server.SetFaults("refuse-login\n");
    auto client = Create(CLSID_ZvPOP3);
    ZVLETTER letter{};
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("REFUSR1"), &letter), E_FAIL);
    ComPtr<IZvEnumLetters> letters;
    EXPECT_EQ(client->ReceiveAll(const_cast<LPSTR>("REFUSR1"), &letters), E_FAIL);
    EXPECT_EQ(client->Disconnect(), E_FAIL) << "not logged in";
    EXPECT_EQ(server.Mailbox("REFUSR1").size(), 1u);
}

TEST_F(MailClients, Pop3ConnectionClosedDuringRetrFailsAndKeepsTheMail) {
    server.FillMailbox("CLOUSR1", {Message("a", std::string(5000, 'a') + "\r\n"), Message("b", "b\r\n")});
    server.SetFaults("close-retr\n");
    auto client = Create(CLSID_ZvPOP3);
    ComPtr<IZvEnumLetters> letters;
    EXPECT_EQ(client->ReceiveAll(const_cast<LPSTR>("CLOUSR1"), &letters), E_FAIL);
    ZVLETTER letter{};
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("CLOUSR1"), &letter), E_FAIL);
    EXPECT_EQ(server.Mailbox("CLOUSR1").size(), 2u);
}

// A broken connection in the middle of ReceiveAll hands out nothing: the server commits DELE only
// at QUIT, so the messages taken so far are still there and would be taken again.
TEST_F(MailClients, Pop3ReceiveAllBrokenAfterTheFirstMessageFailsAndHandsOutNothing) {
    server.FillMailbox("CLOUSR2", {Message("a", "first\r\n"), Message("b", std::string(5000, 'b') + "\r\n")});
    server.SetFaults("close-retr 2\n");
    auto client = Create(CLSID_ZvPOP3);
    IZvEnumLetters* letters = reinterpret_cast<IZvEnumLetters*>(1);
    EXPECT_EQ(client->ReceiveAll(const_cast<LPSTR>("CLOUSR2"), &letters), E_FAIL);
    EXPECT_EQ(letters, nullptr);
    EXPECT_EQ(server.Mailbox("CLOUSR2").size(), 2u);
}

// A message whose DELE the server refuses stays there, and the next Receive moves on to the
// next message instead of handing out the same one again.
TEST_F(MailClients, Pop3RefusedDeleKeepsTheMessageAndMovesOn) {
    server.FillMailbox("DELEUS1", {Message("first", "1\r\n"), Message("second", "2\r\n")});
    server.SetFaults("refuse-dele\n");
    auto client = Create(CLSID_ZvPOP3);
    ZVLETTER letter{};
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("DELEUS1"), &letter), S_OK);
    EXPECT_NE(Text(letter.strMessage).find("Subject: first"), std::string::npos);
    CoTaskMemFree(letter.strMessage);
    EXPECT_EQ(client->EndReceive(0), E_FAIL) << "the server refused to delete it";
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("DELEUS1"), &letter), S_OK);
    EXPECT_NE(Text(letter.strMessage).find("Subject: second"), std::string::npos);
    CoTaskMemFree(letter.strMessage);
    EXPECT_EQ(client->EndReceive(0), E_FAIL);
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("DELEUS1"), &letter), S_FALSE);
    EXPECT_EQ(client->Disconnect(), S_OK);
    EXPECT_EQ(server.Mailbox("DELEUS1").size(), 2u);
}

// Out of memory while ReceiveAll keeps a letter: that letter is not acknowledged (POP3: no DELE;
// TURN: a transient refusal), so the server keeps it; the others are taken.
TEST_F(MailClients, Pop3ReceiveAllNeverDeletesALetterItCouldNotKeep) {
    const std::string lost = Message("unkept", std::string(1777, 'u') + "\r\n");
    server.FillMailbox("OOMUSR1", {lost, Message("kept", "k\r\n")});
    {
        auto pop3 = Create(CLSID_ZvPOP3);
        testing::TaskAllocationFault fault(AsReceived(lost).size() + 1);
        ASSERT_TRUE(fault.Registered());
        ComPtr<IZvEnumLetters> letters;
        ASSERT_EQ(pop3->ReceiveAll(const_cast<LPSTR>("OOMUSR1"), &letters), S_OK);
        EXPECT_GE(fault.Refused(), 1);
        auto got = Drain(letters.Get());
        ASSERT_EQ(got.size(), 1u);
        EXPECT_NE(Text(got[0].strMessage).find("Subject: kept"), std::string::npos);
        EXPECT_EQ(pop3->Disconnect(), S_OK);
    }
    auto left = server.Mailbox("OOMUSR1");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0], lost);
}

TEST_F(MailClients, SmtpReceiveAllNeverAcceptsALetterItCouldNotKeep) {
    const std::string turned = "Subject: unkept\r\n\r\n" + std::string(1999, 't') + "\r\n";
    server.FillMailbox("OOMUSR2", {turned, "Subject: kept\r\n\r\nk\r\n"});
    {
        auto smtp = Create(CLSID_ZvSMTP);
        testing::TaskAllocationFault fault(AsReceived(turned).size() + 1);
        ASSERT_TRUE(fault.Registered());
        ComPtr<IZvEnumLetters> letters;
        ASSERT_EQ(smtp->ReceiveAll(const_cast<LPSTR>("OOMUSR2"), &letters), S_OK);
        EXPECT_GE(fault.Refused(), 1);
        EXPECT_EQ(Drain(letters.Get()).size(), 1u);
    }
    auto left = server.Mailbox("OOMUSR2");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0], turned);
    std::string log = testing::ReadWholeFile(server.root + "\\log.txt");
    EXPECT_NE(log.find("C: 4"), std::string::npos) << "a transient refusal, not 500";
}

TEST_F(MailClients, Pop3RepliesInSmallPiecesAndAGreetingOver255Bytes) {
    server.FillMailbox("PIECUSR", {Message("a", "piece by piece\r\n")});
    server.SetFaults("pieces 3\nlong-line\n");
    auto client = Create(CLSID_ZvPOP3);
    ComPtr<IZvEnumLetters> letters;
    ASSERT_EQ(client->ReceiveAll(const_cast<LPSTR>("PIECUSR"), &letters), S_OK);
    auto got = Drain(letters.Get());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(Text(got[0].strMessage).find("piece by piece"), std::string::npos);
    EXPECT_EQ(client->Disconnect(), S_OK);
}

TEST_F(MailClients, Pop3SendAndReconnectAndAddress) {
    auto client = Create(CLSID_ZvPOP3);
    EXPECT_EQ(client->Send(const_cast<LPSTR>("X"), nullptr), E_NOTIMPL);
    EXPECT_EQ(client->Reconnect(const_cast<LPSTR>("127.0.0.1"), 1), E_NOTIMPL);
    unsigned char address[16];
    EXPECT_EQ(client->GetAddress(sizeof address, address), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(address), "127.0.0.1");
    EXPECT_EQ(client->GetAddress(9, address), E_FAIL);
    EXPECT_EQ(client->GetAddress(10, nullptr), E_POINTER);
    EXPECT_EQ(client->Reconnect(nullptr, 0), S_OK);
    ZVLETTER letter{};
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("X"), &letter), E_UNEXPECTED);
}

// A configured address without a "port" value keeps the address and takes the default port.
TEST_F(MailClients, AMissingPortValueKeepsTheConfiguredAddress) {
    com::UniqueHKey key;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\POP3", 0, KEY_ALL_ACCESS, key.Put()),
        ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key.Get(), "port"), ERROR_SUCCESS);
    const ServerSettings settings = ReadServerSettings("POP3", "mail.example.invalid", 1552);
    EXPECT_EQ(settings.address, "127.0.0.1");
    EXPECT_EQ(settings.port, 1552);
    auto client = Create(CLSID_ZvPOP3);
    unsigned char address[32] = {};
    EXPECT_EQ(client->GetAddress(sizeof address, address), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(address), "127.0.0.1");
}

TEST_F(MailClients, ClientsWithoutAServerOrWithABadPortAreUnconnected) {
    server.PointClient("POP3", "127.0.0.1", 1); // nothing listens there
    server.PointClient("SMTP", "127.0.0.1", 70000);
    auto pop3 = Create(CLSID_ZvPOP3);
    ZVLETTER letter{};
    EXPECT_EQ(pop3->Receive(const_cast<LPSTR>("X"), &letter), E_UNEXPECTED);
    EXPECT_EQ(pop3->Disconnect(), E_UNEXPECTED);
    auto smtp = Create(CLSID_ZvSMTP);
    EXPECT_EQ(smtp->Receive(const_cast<LPSTR>("X"), &letter), E_UNEXPECTED);
    EXPECT_EQ(smtp->Disconnect(), E_FAIL);
    // Reconnecting to the real server works and replaces the failed connection.
    char host[] = "127.0.0.1";
    EXPECT_EQ(smtp->Reconnect(host, server.smtpPort), S_OK);
    ComPtr<ZvLetterEnum> none;
    ASSERT_EQ(ZvLetterEnum::Create(none), S_OK);
    EXPECT_EQ(smtp->Send(const_cast<LPSTR>("X"), none.Get()), S_OK);
}

TEST_F(MailClients, SmtpSendsToSeveralRecipientsAndAcknowledgesEachLetter) {
    for (const char* box : {"alpha@example.org", "beta@example.org", "gamma@example.org"})
        server.FillMailbox(box, {});
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    std::string first = "Subject: first\r\n\r\n.starts with a dot\r\n.\r\nafter\r\n.\r\n";
    letters->Append("ignored@x", " alpha@example.org ; beta@example.org;", first.c_str());
    letters->Append(nullptr, "gamma@example.org", "Subject: second\r\n\r\nbody\r\n.\r\n");
    auto client = Create(CLSID_ZvSMTP);
    ASSERT_EQ(client->Send(const_cast<LPSTR>("SMTPUSR"), letters.Get()), S_OK);
    auto alpha = server.Mailbox("alpha@example.org");
    ASSERT_EQ(alpha.size(), 1u);
    EXPECT_EQ(alpha[0], "Subject: first\r\n\r\n.starts with a dot\r\n.\r\nafter\r\n");
    EXPECT_EQ(server.Mailbox("beta@example.org"), alpha);
    ASSERT_EQ(server.Mailbox("gamma@example.org").size(), 1u);
    letters->Reset();
    auto sent = Drain(letters.Get());
    ASSERT_EQ(sent.size(), 2u);
    for (const ZVLETTER& l : sent)
        EXPECT_TRUE(!l.strFrom && !l.strTo && !l.strMessage) << "acknowledged";
    EXPECT_EQ(client->Disconnect(), S_OK);
    std::string log = testing::ReadWholeFile(server.root + "\\log.txt");
    EXPECT_NE(log.find("C: HELO SMTPUSR"), std::string::npos);
    EXPECT_NE(log.find("C: MAIL FROM:<SMTPUSR@zelvan.net>"), std::string::npos);
}

TEST_F(MailClients, SmtpRepliesInSmallPiecesAndAnOpeningLineOver255Bytes) {
    server.FillMailbox("pieces@example.org", {});
    server.SetFaults("pieces 2\nlong-line\n");
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    letters->Append(nullptr, "pieces@example.org", "Subject: pieces\r\n\r\nbody\r\n.\r\n");
    letters->Append(nullptr, "pieces@example.org", "Subject: more\r\n\r\nbody\r\n.\r\n");
    auto client = Create(CLSID_ZvSMTP);
    ASSERT_EQ(client->Send(const_cast<LPSTR>("SMTPUSR"), letters.Get()), S_OK);
    EXPECT_EQ(client->Disconnect(), S_OK);
    auto stored = server.Mailbox("pieces@example.org");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0], "Subject: pieces\r\n\r\nbody\r\n");
}

// A refused recipient fails its letter alone: none of its recipients gets it, it stays
// unacknowledged, and the letters around it are sent; Send says not all went.
TEST_F(MailClients, SmtpRefusedRecipientFailsItsLetterAloneAndTheOthersGo) {
    for (const char* box : {"one@example.org", "two@example.org", "three@example.org", "four@example.org"})
        server.FillMailbox(box, {});
    server.SetFaults("refuse-rcpt 3\n");
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    letters->Append(nullptr, "one@example.org", "one\r\n.\r\n");
    letters->Append(nullptr, "two@example.org;three@example.org", "two\r\n.\r\n");
    letters->Append(nullptr, "four@example.org", "four\r\n.\r\n");
    auto client = Create(CLSID_ZvSMTP);
    EXPECT_EQ(client->Send(const_cast<LPSTR>("SMTPUSR"), letters.Get()), E_UNEXPECTED);
    letters->Reset();
    auto after = Drain(letters.Get());
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].strMessage, nullptr);
    EXPECT_EQ(Text(after[1].strMessage), "two\r\n.\r\n");
    EXPECT_EQ(after[2].strMessage, nullptr);
    EXPECT_EQ(server.Mailbox("one@example.org").size(), 1u);
    EXPECT_TRUE(server.Mailbox("two@example.org").empty());
    EXPECT_TRUE(server.Mailbox("three@example.org").empty());
    EXPECT_EQ(server.Mailbox("four@example.org").size(), 1u);
    EXPECT_EQ(client->Disconnect(), S_OK) << "the dialogue stayed in step";
}

// A letter with an unsafe recipient fails alone: it never reaches the server, stays
// unacknowledged, and the letters after it are sent; Send says not all went.
TEST_F(MailClients, SmtpUnsafeRecipientNeverReachesTheServerAndTheOthersGo) {
    server.FillMailbox("after@example.org", {});
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    letters->Append(nullptr, "victim@example.org>\r\nRCPT TO:<evil@example.org", "x\r\n.\r\n");
    letters->Append(nullptr, "after@example.org", "Subject: after\r\n\r\nstill sent\r\n.\r\n");
    auto client = Create(CLSID_ZvSMTP);
    EXPECT_EQ(client->Send(const_cast<LPSTR>("SMTPUSR"), letters.Get()), E_UNEXPECTED);
    std::string log = testing::ReadWholeFile(server.root + "\\log.txt");
    EXPECT_EQ(log.find("evil@"), std::string::npos);
    EXPECT_EQ(server.Mailbox("after@example.org").size(), 1u);
    letters->Reset();
    auto after = Drain(letters.Get());
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NE(after[0].strTo, nullptr) << "not acknowledged";
    EXPECT_EQ(after[1].strTo, nullptr) << "acknowledged";
}

TEST_F(MailClients, SmtpConnectionClosedDuringDataFailsWithoutAcknowledging) {
    server.SetFaults("close-data\n");
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    letters->Append(nullptr, "closed@example.org", "line one\r\nline two\r\n.\r\n");
    auto client = Create(CLSID_ZvSMTP);
    EXPECT_EQ(client->Send(const_cast<LPSTR>("SMTPUSR"), letters.Get()), E_FAIL);
    letters->Reset();
    auto after = Drain(letters.Get());
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].strMessage, nullptr);
}

TEST_F(MailClients, SmtpRefusedOpeningFailsSendAndReceive) {
    server.SetFaults("refuse-login\n");
    ComPtr<ZvLetterEnum> none;
    ASSERT_EQ(ZvLetterEnum::Create(none), S_OK);
    auto client = Create(CLSID_ZvSMTP);
    EXPECT_EQ(client->Send(const_cast<LPSTR>("SMTPUSR"), none.Get()), E_FAIL);
    ComPtr<IZvEnumLetters> letters;
    EXPECT_EQ(client->ReceiveAll(const_cast<LPSTR>("SMTPUSR"), &letters), E_FAIL);
}

TEST_F(MailClients, SmtpTurnReceivesAllAndTheServerDropsWhatWasTaken) {
    std::vector<std::string> mail = {"From: A <a@example.org>\r\nSubject: t1\r\n\r\n.dot line\r\nbody\r\n",
                                     "Subject: t2\r\n\r\n" + std::string(3000, 'z') + "\r\n"};
    server.FillMailbox("TURNUS1", mail);
    server.SetFaults("pieces 7\n");
    auto client = Create(CLSID_ZvSMTP);
    ComPtr<IZvEnumLetters> letters;
    ASSERT_EQ(client->ReceiveAll(const_cast<LPSTR>("TURNUS1"), &letters), S_OK);
    auto got = Drain(letters.Get());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(Text(got[0].strFrom), "a@example.org");
    EXPECT_EQ(Text(got[0].strTo), "TURNUS1@zelvan.net");
    EXPECT_EQ(Text(got[0].strMessage), AsReceived(mail[0]));
    EXPECT_EQ(Text(got[1].strMessage), AsReceived(mail[1]));
    EXPECT_TRUE(server.Mailbox("TURNUS1").empty());
}

TEST_F(MailClients, SmtpTurnReceiveOneAndRefuseIt) {
    server.FillMailbox("TURNUS2", {"Subject: keep me\r\n\r\nx\r\n", "Subject: take me\r\n\r\ny\r\n"});
    auto client = Create(CLSID_ZvSMTP);
    ZVLETTER letter{};
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("TURNUS2"), &letter), S_OK);
    EXPECT_NE(Text(letter.strMessage).find("keep me"), std::string::npos);
    EXPECT_EQ(client->EndReceive(1), S_OK);
    ZVLETTER second{};
    ASSERT_EQ(client->Receive(const_cast<LPSTR>("TURNUS2"), &second), S_OK);
    EXPECT_EQ(client->EndReceive(0), S_OK);
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("TURNUS2"), &letter), S_FALSE) << "the server said QUIT";
    for (ZVLETTER* l : {&letter, &second}) {
        CoTaskMemFree(l->strFrom);
        CoTaskMemFree(l->strTo);
        CoTaskMemFree(l->strMessage);
    }
    auto left = server.Mailbox("TURNUS2");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("keep me"), std::string::npos);
}

TEST_F(MailClients, SmtpTurnClosedDuringDataFailsAndKeepsTheMail) {
    server.FillMailbox("TURNUS3", {"Subject: a\r\n\r\n" + std::string(2000, 'q') + "\r\n"});
    server.SetFaults("close-data\n");
    auto client = Create(CLSID_ZvSMTP);
    ZVLETTER letter{};
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("TURNUS3"), &letter), E_FAIL);
    EXPECT_EQ(server.Mailbox("TURNUS3").size(), 1u);
}

// A server that never answers: the client gives up after its 30-second time-out.
TEST_F(MailClients, SlowSilentServerTimesOut) {
    server.FillMailbox("SILENT1", {Message("a", "a\r\n")});
    server.SetFaults("silent\n");
    auto client = Create(CLSID_ZvPOP3);
    ULONGLONG start = GetTickCount64();
    ZVLETTER letter{};
    EXPECT_EQ(client->Receive(const_cast<LPSTR>("SILENT1"), &letter), E_FAIL);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 29000u);
    EXPECT_LT(took, 60000u);
    EXPECT_EQ(server.Mailbox("SILENT1").size(), 1u);
}

} // namespace
} // namespace tv::mail
