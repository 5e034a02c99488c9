// The 1.0 mail synchronizer's phases driven directly: a hub served on this thread over the
// folder-backed test devices (a 1.0 device), the test mail server, a recording sink.
#include "AnsiText.h"
#include "ComObject.h"
#include "MailServerFixture.h"
#include "MailAddress.h"
#include "MailboxFile.h"
#include "ServedHub.h"
#include "SyncTestSupport.h"
#include "UiHarness.h"
#include "ZvSyncMail10.h"
#include "ZvSyncMgr.h"
#include <gtest/gtest.h>
#include <functional>
#include <mutex>

namespace tv::mail {
namespace {

constexpr char kDevice[] = "MAILA";
constexpr char kDeviceId[] = "@TDMAILA";
constexpr char kUser[] = "TDMAILA";

MailboxLetter Outgoing(const std::string& to, const std::string& body) {
    MailboxLetter letter;
    letter.status = kMailToSend;
    letter.sender = kDeviceId;
    letter.recipient = to;
    letter.messageId = "AB,B";
    letter.subject = "From the device";
    letter.body = body;
    return letter;
}

std::string Incoming(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) + "@zelvan.net\r\nSubject: " + subject +
           "\r\nMessage-Id: <" + subject + "@x>\r\n\r\n" + body + "\r\n";
}

class SyncMail10Test : public ::testing::Test {
  protected:
    com::ComApartment apartment_;

    void SetUp() override {
        ASSERT_TRUE(server_.Load()) << "run through mail_test.sh";
        server_.PointClient("SMTP", "127.0.0.1", server_.smtpPort);
        server_.SetFaults("");
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "tvsyncmail10_" + std::to_string(GetCurrentProcessId());
        for (const char* folder : {"", "\\devices", "\\devices\\MAILA", "\\devices\\MAILA\\Internal"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        SetDeviceSetting("ModelVersion", 16);
        library_ = testing::LoadSynchronizerDll("ZvSyncMail10.dll");
        ASSERT_TRUE(library_);
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
    }
    void TearDown() override {
        served_.Stop();
        test::DeleteTree(com::FromAnsi(root_));
    }

    static void SetDeviceSetting(const char* name, DWORD value) {
        const std::string key = std::string("Software\\Zelvan\\Tavrilon\\TestDevice\\Devices\\") + kDevice;
        RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value));
    }

    std::string MailboxPath(const std::string& folder = "Internal") const {
        return root_ + "\\devices\\MAILA\\" + folder + "\\email.dat";
    }

    void WriteMailbox(const MailboxFile& mailbox, const std::string& folder = "Internal") const {
        const std::vector<uint8_t> bytes = mailbox.Serialize();
        testing::WriteWholeFile(MailboxPath(folder), std::string(bytes.begin(), bytes.end()));
    }
    std::optional<MailboxFile> ReadMailbox(const std::string& folder = "Internal") const {
        const std::string bytes = testing::ReadWholeFile(MailboxPath(folder));
        return MailboxFile::Parse({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    }

    // Runs a session with a new recording sink; the sink.
    com::ComPtr<testing::RecordingSink> Session(std::function<void()> between = nullptr,
                                                std::vector<HRESULT>* results = nullptr) {
        return testing::RunRecordedSession(library_.Get(), CLSID_ZvSyncMail10, kDeviceId, std::move(between),
                                           results);
    }

    std::vector<HRESULT> RunSession(testing::RecordingSink* sink, std::function<void()> between = nullptr) {
        return testing::RunSynchronizerSession(library_.Get(), CLSID_ZvSyncMail10, kDeviceId, sink, between);
    }

    testing::MailServer server_;
    std::string root_;
    test::ServedHub served_;
    com::UniqueModule library_;
};

TEST_F(SyncMail10Test, SessionSendsReceivesAndASecondOneFindsNothingNew) {
    MailboxFile mailbox(0, 0, 4000);
    ASSERT_EQ(mailbox.Add(Outgoing("friend@example.org", "Hello from the device")), MailboxAdd::Added);
    WriteMailbox(mailbox);
    server_.FillMailbox(kUser, {Incoming("one", "First letter"), Incoming("two", "Second letter")});

    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    std::vector<HRESULT> results = RunSession(sink.Get());
    ASSERT_EQ(results.size(), 6u);
    for (HRESULT hr : results)
        EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Errors());
    EXPECT_EQ(sink->Events().back(), "custom 5 3 1 letters sent, 2 letters received.");

    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->Count(), 3u);
    EXPECT_EQ(after->Letter(0).status, kMailSent);
    EXPECT_EQ(after->Letter(1).subject, "one");
    EXPECT_EQ(after->Letter(1).body, "First letter");
    EXPECT_EQ(after->Letter(1).sender, "sender@example.org");
    EXPECT_EQ(after->Letter(2).subject, "two");
    EXPECT_EQ(testing::ReadWholeFile(MailboxPath()).size(), 4012u);
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
    const std::vector<std::string> delivered = server_.Mailbox("friend@example.org");
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_NE(delivered[0].find("Hello from the device"), std::string::npos);
    // The sender's domain is the device service's mail domain, not the server's address.
    EXPECT_NE(delivered[0].find("From: @TDMAILA <TDMAILA@zelvan.net>"), std::string::npos) << delivered[0];

    const std::string before = testing::ReadWholeFile(MailboxPath());
    com::ComPtr<testing::RecordingSink> second;
    com::MakeComObject(second);
    RunSession(second.Get());
    EXPECT_EQ(second->Events().back(), "custom 5 3 0 letters sent, 0 letters received.");
    EXPECT_EQ(testing::ReadWholeFile(MailboxPath()), before);
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u);
}

TEST_F(SyncMail10Test, AFileOfAnUnknownVersionIsNeverWrittenBack) {
    std::string bytes(200, '\0');
    bytes[1] = 2;
    testing::WriteWholeFile(MailboxPath(), bytes);
    server_.FillMailbox(kUser, {Incoming("kept", "stays on the server")});
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    std::vector<HRESULT> results = RunSession(sink.Get());
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(FAILED(results[2]));
    EXPECT_FALSE(sink->Errors().empty());
    EXPECT_EQ(testing::ReadWholeFile(MailboxPath()), bytes);
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
}

// A refused recipient fails its letter alone: it stays to be sent and is named in the report, the
// letters before and after it are sent and marked, and the receiving goes on.
TEST_F(SyncMail10Test, ARefusedRecipientFailsItsLetterAlone) {
    MailboxFile mailbox(0, 0, 4000);
    ASSERT_EQ(mailbox.Add(Outgoing("first@example.org", "accepted")), MailboxAdd::Added);
    ASSERT_EQ(mailbox.Add(Outgoing("second@example.org", "refused")), MailboxAdd::Added);
    ASSERT_EQ(mailbox.Add(Outgoing("third@example.org", "accepted after it")), MailboxAdd::Added);
    WriteMailbox(mailbox);
    for (const char* box : {"first@example.org", "second@example.org", "third@example.org"})
        server_.FillMailbox(box, {});
    server_.FillMailbox(kUser, {Incoming("incoming", "still received")});
    server_.SetFaults("refuse-rcpt 2\n");
    auto sink = Session();
    ASSERT_EQ(sink->Errors().size(), 1u) << ::testing::PrintToString(sink->Events());
    EXPECT_EQ(sink->Errors()[0].rfind("error 3 The mail could not be sent.", 0), 0u) << sink->Errors()[0];
    EXPECT_NE(sink->Errors()[0].find("second@example.org"), std::string::npos) << sink->Errors()[0];
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->Count(), 4u);
    EXPECT_EQ(after->Letter(0).status, kMailSent);
    EXPECT_EQ(after->Letter(1).status, kMailToSend);
    EXPECT_EQ(after->Letter(2).status, kMailSent);
    EXPECT_EQ(after->Letter(3).subject, "incoming");
    EXPECT_EQ(server_.Mailbox("first@example.org").size(), 1u);
    EXPECT_TRUE(server_.Mailbox("second@example.org").empty());
    EXPECT_EQ(server_.Mailbox("third@example.org").size(), 1u);
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
}

// Without a mail server the letters cannot go and nothing comes: one report says both, and the
// letter stays to be sent.
TEST_F(SyncMail10Test, WithoutAMailServerTheReportNamesTheLetterThatStays) {
    MailboxFile mailbox(0, 0, 4000);
    ASSERT_EQ(mailbox.Add(Outgoing("nobody@example.org", "waits")), MailboxAdd::Added);
    WriteMailbox(mailbox);
    server_.PointClient("SMTP", "127.0.0.1", 1);
    auto sink = Session();
    ASSERT_EQ(sink->Errors().size(), 1u) << ::testing::PrintToString(sink->Events());
    const std::string error = sink->Errors()[0];
    EXPECT_EQ(error.rfind("error 3 The mail could not be sent.", 0), 0u) << error;
    EXPECT_NE(error.find("nobody@example.org"), std::string::npos) << error;
    EXPECT_NE(error.find("The mail could not be received."), std::string::npos) << error;
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->Letter(0).status, kMailToSend);
}

// A letter without a Message-ID whose "250 ok" never reached the server comes again in the next
// session, with a new id made for it: it is recognised, answered and not stored twice.
TEST_F(SyncMail10Test, ALetterDeliveredAgainAfterALostAnswerIsStoredOnce) {
    WriteMailbox(MailboxFile(0, 0, 4000));
    server_.FillMailbox(kUser, {"From: Sender <sender@example.org>\r\nTo: TDMAILA@zelvan.net\r\n"
                                "Subject: no id\r\n\r\nA letter without a Message-ID\r\n"});
    server_.SetFaults("close-verdict 1\n");
    auto cut = Session();
    EXPECT_FALSE(cut->Errors().empty());
    std::optional<MailboxFile> first = ReadMailbox();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->Count(), 1u);
    ASSERT_EQ(server_.Mailbox(kUser).size(), 1u) << "the server never heard the answer";

    Sleep(1100); // the id made for the letter now is another one
    server_.SetFaults("");
    auto again = Session();
    EXPECT_TRUE(again->Errors().empty()) << ::testing::PrintToString(again->Events());
    EXPECT_EQ(again->Events().back(), "custom 5 3 0 letters sent, 0 letters received.");
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->Count(), 1u);
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
}

TEST_F(SyncMail10Test, AFailedDeviceCopyLeavesTheLetterOnTheServerAndAFullMailboxIsReported) {
    MailboxFile mailbox(0, 0, 4000);
    WriteMailbox(mailbox);
    server_.FillMailbox(kUser, {Incoming("kept", "stays on the server")});
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    // The mailbox's folder is gone once the session has its copy: every copy back fails.
    const std::string folder = root_ + "\\devices\\MAILA\\Internal";
    RunSession(sink.Get(), [&] { MoveFileA(folder.c_str(), (folder + ".away").c_str()); });
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    EXPECT_FALSE(sink->Errors().empty());
    ASSERT_TRUE(MoveFileA((folder + ".away").c_str(), folder.c_str()));

    // Room for one letter of the two: the second stays on the server, Finalize says why.
    WriteMailbox(MailboxFile(0, 0, 120));
    server_.FillMailbox(kUser, {Incoming("a", "first"), Incoming("b", "second")});
    com::ComPtr<testing::RecordingSink> full;
    com::MakeComObject(full);
    std::vector<HRESULT> results = RunSession(full.Get());
    ASSERT_EQ(results.size(), 6u);
    EXPECT_TRUE(FAILED(results.back()));
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->Count(), 1u);
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    EXPECT_EQ(full->Errors().back().rfind("error 5 ", 0), 0u);
}

// The server closing while it delivers after TURN: the letters answered before it are on the
// device, the one cut off stays on the server, and the session ends with the error.
TEST_F(SyncMail10Test, TheServerClosingDuringTheTurnReceiveLosesNothing) {
    WriteMailbox(MailboxFile(0, 0, 4000));
    server_.FillMailbox(kUser, {Incoming("first", "arrives whole"), Incoming("second", "cut off")});
    server_.SetFaults("close-data 2\n");
    std::vector<HRESULT> results;
    auto sink = Session(nullptr, &results);
    ASSERT_EQ(results.size(), 5u) << "no Finalize after the failed transfer";
    ASSERT_EQ(sink->Errors().size(), 1u);
    EXPECT_EQ(sink->Errors()[0], "error 3 The mail could not be received.");
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->Count(), 1u);
    EXPECT_EQ(after->Letter(0).subject, "first");
    const std::vector<std::string> left = server_.Mailbox(kUser);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("Subject: second"), std::string::npos);
}

// A first mailbox whose flags byte names another folder: that folder's mailbox is used when its
// owner is the device's user, and Initialize fails when it is not.
TEST_F(SyncMail10Test, TheFlagsByteLeadsToTheOwnersMailbox) {
    CreateDirectoryA((root_ + "\\devices\\MAILA\\Memory Card").c_str(), nullptr);
    const uint32_t owner = OwnerNumberFromUserId(kUser);
    ASSERT_NE(owner, 0u);
    WriteMailbox(MailboxFile(2, 0, 500), "Internal");
    WriteMailbox(MailboxFile(2, owner, 1000), "Memory Card");
    const std::string internal = testing::ReadWholeFile(MailboxPath("Internal"));
    server_.FillMailbox(kUser, {Incoming("owned", "to the owner's mailbox")});
    auto sink = Session();
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Events());
    std::optional<MailboxFile> owned = ReadMailbox("Memory Card");
    ASSERT_TRUE(owned);
    ASSERT_EQ(owned->Count(), 1u);
    EXPECT_EQ(owned->Letter(0).subject, "owned");
    EXPECT_EQ(testing::ReadWholeFile(MailboxPath("Internal")), internal);

    WriteMailbox(MailboxFile(2, owner + 1, 1000), "Memory Card");
    server_.FillMailbox(kUser, {Incoming("stranger", "not for this mailbox")});
    std::vector<HRESULT> results;
    auto other = Session(nullptr, &results);
    ASSERT_EQ(results.size(), 3u);
    ASSERT_EQ(other->Errors().size(), 1u);
    EXPECT_EQ(other->Errors()[0], "error 1 The data on the device could not be read.");
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
}

// A letter that cannot be stored in the mailbox file is not added: it is answered "500 error"
// (the server keeps it), receiving ends there and Finalize reports the full mailbox. A server that
// offers the refused letter again finds receiving over.
TEST_F(SyncMail10Test, ALetterThatCannotBeStoredEndsReceivingWithTheFullMailboxReport) {
    WriteMailbox(MailboxFile(0, 0, 4000));
    server_.FillMailbox(kUser,
                        {"From: Odd <odd@@example.org>\r\nSubject: odd\r\n\r\nno address of a known kind\r\n",
                         Incoming("normal", "stays for now")});
    server_.SetFaults("reoffer 3\n");
    const std::string logPath = server_.root + "\\log.txt";
    DeleteFileA(logPath.c_str()); // what earlier tests said
    std::vector<HRESULT> results;
    auto sink = Session(nullptr, &results);
    ASSERT_EQ(results.size(), 6u) << ::testing::PrintToString(sink->Events());
    EXPECT_TRUE(FAILED(results.back()));
    ASSERT_EQ(sink->Errors().size(), 1u) << ::testing::PrintToString(sink->Events());
    EXPECT_EQ(sink->Errors()[0],
              "error 5 The mailbox on the device is full; further letters stay on the server.");
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->Count(), 0u);
    EXPECT_EQ(server_.Mailbox(kUser).size(), 2u);
    const std::string log = testing::ReadWholeFile(logPath);
    size_t refusals = 0;
    for (size_t at = log.find("C: 500 error"); at != std::string::npos; at = log.find("C: 500 error", at + 1))
        ++refusals;
    EXPECT_EQ(refusals, 1u) << "the letter is refused once";
}

// A faulty server that delivers a letter again after it was accepted does not keep the session
// going: receiving ends at the letter offered a second time, which is stored once; what was not
// received stays on the server for the next session.
TEST_F(SyncMail10Test, AServerOfferingAnAcceptedLetterAgainDoesNotKeepTheSessionGoing) {
    WriteMailbox(MailboxFile(0, 0, 4000));
    server_.FillMailbox(kUser, {Incoming("again", "offered over and over"), Incoming("later", "next time")});
    server_.SetFaults("repeat 5\n");
    const std::string logPath = server_.root + "\\log.txt";
    DeleteFileA(logPath.c_str()); // what earlier tests said
    auto sink = Session();
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Events());
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->Count(), 1u);
    EXPECT_EQ(after->Letter(0).subject, "again");
    const std::string log = testing::ReadWholeFile(logPath);
    size_t offers = 0;
    for (size_t at = log.find("C: 354 ok"); at != std::string::npos; at = log.find("C: 354 ok", at + 1))
        ++offers;
    EXPECT_EQ(offers, 2u) << "the letter is taken once and refused no second round";
    const std::vector<std::string> left = server_.Mailbox(kUser);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("Subject: later"), std::string::npos);
}

// A letter to a device address that cannot go on a command line stays to be sent and is named in
// the report; the other letter is sent and the receiving goes on.
TEST_F(SyncMail10Test, ALetterThatCannotGoStaysToBeSentAndTheRestGoesOn) {
    MailboxFile mailbox(0, 0, 4000);
    ASSERT_EQ(mailbox.Add(Outgoing("@AB<CDEF", "cannot go")), MailboxAdd::Added);
    ASSERT_EQ(mailbox.Add(Outgoing("fine@example.org", "goes")), MailboxAdd::Added);
    WriteMailbox(mailbox);
    server_.FillMailbox(kUser, {Incoming("incoming", "still received")});
    auto sink = Session();
    ASSERT_EQ(sink->Errors().size(), 1u) << ::testing::PrintToString(sink->Events());
    EXPECT_EQ(sink->Errors()[0].rfind("error 3 The mail could not be sent.", 0), 0u) << sink->Errors()[0];
    EXPECT_NE(sink->Errors()[0].find("@AB<CDEF"), std::string::npos) << sink->Errors()[0];
    std::optional<MailboxFile> after = ReadMailbox();
    ASSERT_TRUE(after);
    ASSERT_EQ(after->Count(), 3u);
    EXPECT_EQ(after->Letter(0).status, kMailToSend);
    EXPECT_EQ(after->Letter(1).status, kMailSent);
    EXPECT_EQ(after->Letter(2).subject, "incoming");
    EXPECT_EQ(server_.Mailbox("fine@example.org").size(), 1u);
}

} // namespace
} // namespace tv::mail
