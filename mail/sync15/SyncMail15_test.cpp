// The 1.5 mail synchronizer's phases driven directly: a hub served on this thread over the
// folder-backed test devices, a mail database written by the fixture writer, the test mail
// server (both of its sides), a recording sink.
#include "AnsiText.h"
#include "BenchmarkRounds.h"
#include "MailServerFixture.h"
#include "MailTable.h"
#include "ServedHub.h"
#include "SyncTestSupport.h"
#include "UiHarness.h"
#include "MailSyncSupport.h"
#include "ZvDB.h"
#include "ZvLetterEnum.h"
#include "ZvPOP3.h"
#include "ZvSMTP.h"
#include "ZvSyncMail15.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace tv::mail {
namespace {

constexpr char kDevice[] = "MAILB";
constexpr char kDeviceId[] = "@TDMAILB";
constexpr char kUser[] = "TDMAILB";
constexpr char kTable[] = "4D41494C.t";

using testing::MailRow;

std::string ExeFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

std::string Plain(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) + "@zelvan.net\r\nSubject: " + subject +
           "\r\nMessage-Id: <" + subject + "@x>\r\n\r\n" + body + "\r\n";
}

// A MIME letter with a text part and one attachment per (name, encoding, text) given.
struct Part {
    std::string name, encoding, text;
};
std::string WithAttachments(const std::string& subject, const std::vector<Part>& parts,
                            const std::string& text) {
    std::string letter = "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) +
                         "@zelvan.net\r\nSubject: " + subject +
                         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                         "--b1\r\nContent-Type: text/plain\r\n\r\n" +
                         text + "\r\n";
    for (const Part& part : parts)
        letter += "--b1\r\nContent-Type: application/octet-stream; name=\"" + part.name +
                  "\"\r\nContent-Transfer-Encoding: " + part.encoding + "\r\n\r\n" + part.text + "\r\n";
    return letter + "--b1--\r\n";
}

// Sets a process environment variable for a while (the working folder follows TMP and TEMP).
class EnvironmentOverride {
  public:
    EnvironmentOverride(const char* name, const std::string& value) : name_(name) {
        char old[MAX_PATH] = {};
        had_ = GetEnvironmentVariableA(name, old, MAX_PATH) > 0;
        old_ = old;
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~EnvironmentOverride() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// Points a class's in-process server at a DLL that does not exist for a while, so that creating
// it fails; the registration is put back afterwards.
class BrokenClassRegistration {
  public:
    explicit BrokenClassRegistration(const char* clsid) {
        const std::string key = std::string("Software\\Classes\\CLSID\\") + clsid + "\\InprocServer32";
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, key_.Put()) != ERROR_SUCCESS)
            return;
        char path[MAX_PATH] = {};
        DWORD size = sizeof path - 1;
        if (RegQueryValueExA(key_.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS)
            return;
        old_ = path;
        const char missing[] = "C:\\no such folder\\missing.dll";
        broken_ = RegSetValueExA(key_.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(missing),
                                 sizeof missing) == ERROR_SUCCESS;
    }
    ~BrokenClassRegistration() {
        if (broken_)
            RegSetValueExA(key_.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                           static_cast<DWORD>(old_.size() + 1));
    }
    bool Broken() const { return broken_; }

  private:
    com::UniqueHKey key_;
    std::string old_;
    bool broken_ = false;
};

std::string WithAttachment(const std::string& subject) {
    return "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) +
           "@zelvan.net\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n"
           "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\nYWJjZGVm\r\n--b1--\r\n";
}

class SyncMail15Test : public ::testing::Test {
  protected:
    com::ComApartment apartment_;

    void SetUp() override {
        ASSERT_TRUE(server_.Load()) << "run through mail_test.sh";
        server_.PointClient("SMTP", "127.0.0.1", server_.smtpPort);
        server_.PointClient("POP3", "127.0.0.1", server_.pop3Port);
        server_.SetFaults("");
        for (const char* box :
             {"friend@example.org", "other@example.org", "later@example.org", "done@example.org"})
            server_.FillMailbox(box, {}); // what earlier tests delivered
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "tvsyncmail15_" + std::to_string(GetCurrentProcessId());
        for (const char* folder : {"", "\\devices", "\\devices\\MAILB", "\\devices\\MAILB\\default",
                                   "\\devices\\MAILB\\default\\System", "\\devices\\MAILB\\default\\System\\EMAIL"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        CopyDatabaseFixture();
        if (HasFatalFailure())
            return;
        testing::WriteWholeFile(Device("email.app"), "application");
        testing::WriteWholeFile(Device("System\\EMAIL\\00000001.att"), "attached note");
        const std::string key = std::string("Software\\Zelvan\\Tavrilon\\TestDevice\\Devices\\") + kDevice;
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        library_ = testing::LoadSynchronizerDll("ZvSyncMail15.dll");
        ASSERT_TRUE(library_);
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
    }
    void TearDown() override {
        served_.Stop();
        test::DeleteTree(com::FromAnsi(root_));
    }

    std::string Device(const std::string& path) const { return root_ + "\\devices\\MAILB\\default\\" + path; }

    // The device's mail database and table as the fixture writer made them.
    void CopyDatabaseFixture() const {
        const std::string fixture = ExeFolder() + "\\..\\..\\mail\\mail15-fixture\\";
        for (const char* name : {"email.db", kTable})
            ASSERT_TRUE(CopyFileA((fixture + name).c_str(), Device(name).c_str(), FALSE)) << fixture << name;
    }

    // Runs a session with a new recording sink; the sink.
    com::ComPtr<testing::RecordingSink> Session(std::function<void()> between = nullptr,
                                                std::vector<HRESULT>* results = nullptr) {
        return testing::RunRecordedSession(library_.Get(), CLSID_ZvSyncMail15, kDeviceId, std::move(between),
                                           results);
    }

    std::vector<HRESULT> RunSession(testing::RecordingSink* sink, std::function<void()> between = nullptr) {
        return testing::RunSynchronizerSession(library_.Get(), CLSID_ZvSyncMail15, kDeviceId, sink, between);
    }

    static void SetDeviceSetting(const char* name, DWORD value) {
        const std::string key = std::string("Software\\Zelvan\\Tavrilon\\TestDevice\\Devices\\") + kDevice;
        RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value));
    }

    // Adds a letter to the device's outbox (status 4) through the database engine.
    void AddOutboxLetter(std::string to, std::string subject, std::string descriptor = {}) const {
        com::ComPtr<IZvDBEngine> engine;
        com::ComPtr<IZvDBConnection> connection;
        com::ComPtr<IZvDBTable> table;
        com::ComPtr<IZvDBCursor> cursor;
        com::ComPtr<IZvDBRecord> record;
        std::string path = Device("email.db"), from = "TDMAILB@zelvan.net", body = "Body of " + subject;
        ASSERT_EQ(CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvDBEngine),
                                   reinterpret_cast<void**>(&engine)),
                  S_OK);
        ASSERT_EQ(engine->OpenConnection(path.data(), &connection), S_OK);
        ASSERT_EQ(connection->GetTableByIdx(0, &table), S_OK);
        ASSERT_EQ(table->OpenNullCursor(&cursor), S_OK);
        ASSERT_EQ(cursor->Add(&record), S_OK);
        record->SetByte(0, 4);
        record->SetString(4, from.data());
        record->SetString(5, to.data());
        record->SetString(6, subject.data());
        record->SetString(7, body.data());
        if (!descriptor.empty())
            record->SetString(8, descriptor.data());
        ASSERT_EQ(record->Commit(), S_OK);
    }

    // The device's table may not grow beyond its present size: a record that needs more is refused.
    void LimitTableToItsSize() const {
        std::string table = testing::ReadWholeFile(Device(kTable));
        ASSERT_GT(table.size(), 24u);
        const uint32_t size = static_cast<uint32_t>(table.size());
        for (int i = 0; i < 4; ++i)
            table[20 + i] = static_cast<char>(size >> (24 - 8 * i));
        testing::WriteWholeFile(Device(kTable), table);
    }

    // The files of the device's attachment folder.
    std::vector<std::string> AttachmentFiles() const { return testing::FilesIn(Device("System\\EMAIL")); }

    // The rows whose subject is `subject`.
    size_t RowsWithSubject(const std::string& subject) const {
        size_t count = 0;
        for (const MailRow& row : Rows())
            count += row.subject == subject;
        return count;
    }

    // The device's mail table, read through the database engine.
    std::vector<MailRow> Rows() const {
        std::vector<MailRow> rows;
        EXPECT_TRUE(testing::ReadMailTable(Device("email.db"), rows)) << "the device's mail table cannot be read";
        return rows;
    }

    testing::MailServer server_;
    std::string root_;
    test::ServedHub served_;
    com::UniqueModule library_;
};

TEST_F(SyncMail15Test, SessionSendsWithAttachmentsReceivesIntoTheTableAndASecondFindsNothingNew) {
    server_.FillMailbox(kUser, {Plain("plain", "A plain letter"), WithAttachment("with file")});
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    std::vector<HRESULT> results = RunSession(sink.Get());
    ASSERT_EQ(results.size(), 6u);
    for (HRESULT hr : results)
        EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Events());
    EXPECT_EQ(sink->Events().back(), "custom 5 3 1 letters sent, 2 letters received.");

    // Sent to both recipients, with the attachment; marked sent.
    for (const char* to : {"friend@example.org", "other@example.org"}) {
        const std::vector<std::string> got = server_.Mailbox(to);
        ASSERT_EQ(got.size(), 1u) << to;
        EXPECT_NE(got[0].find("Hello from the device"), std::string::npos);
        EXPECT_NE(got[0].find("filename=\"note.txt\""), std::string::npos);
        EXPECT_NE(got[0].find("YXR0YWNoZWQgbm90ZQ"), std::string::npos); // "attached note"
    }
    EXPECT_TRUE(server_.Mailbox("done@example.org").empty());
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].status, 32);
    EXPECT_EQ(rows[3].status, 1);
    EXPECT_EQ(rows[3].from, "sender@example.org");
    EXPECT_EQ(rows[3].subject, "plain");
    EXPECT_EQ(rows[3].body.find("A plain letter"), 0u);
    EXPECT_EQ(rows[4].body.find("See the file."), 0u);
    ASSERT_EQ(rows[4].attachments.rfind("data.bin>/default/System/EMAIL/", 0), 0u) << rows[4].attachments;
    const std::string stored = rows[4].attachments.substr(rows[4].attachments.rfind('/') + 1);
    EXPECT_EQ(testing::ReadWholeFile(Device("System\\EMAIL\\" + stored)), "abcdef");
    EXPECT_TRUE(server_.Mailbox(kUser).empty());

    com::ComPtr<testing::RecordingSink> second;
    com::MakeComObject(second);
    RunSession(second.Get());
    EXPECT_EQ(second->Events().back(), "custom 5 3 0 letters sent, 0 letters received.");
    EXPECT_EQ(Rows().size(), 5u);
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u);
}

TEST_F(SyncMail15Test, TheServerClosingDuringReceiveLosesNothing) {
    server_.FillMailbox(kUser, {Plain("first", "kept on the server")});
    server_.SetFaults("close-retr\n");
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    RunSession(sink.Get());
    EXPECT_FALSE(sink->Errors().empty());
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].status, 32); // the send before it went through and is marked
}

TEST_F(SyncMail15Test, AFailedTableCopyKeepsTheLettersOnTheServer) {
    server_.FillMailbox(kUser, {Plain("first", "kept on the server")});
    const std::string folder = root_ + "\\devices\\MAILB\\default";
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    RunSession(sink.Get(), [&] { MoveFileA(folder.c_str(), (folder + ".away").c_str()); });
    ASSERT_TRUE(MoveFileA((folder + ".away").c_str(), folder.c_str()));
    EXPECT_FALSE(sink->Errors().empty());
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
}

TEST_F(SyncMail15Test, WithoutTheMailApplicationOrWithAnUnreadableCatalogInitializeFails) {
    DeleteFileA(Device("email.app").c_str());
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    RunSession(sink.Get());
    ASSERT_FALSE(sink->Errors().empty());
    EXPECT_EQ(sink->Errors().front(), "error 1 The e-mail application is not installed on the device.");

    testing::WriteWholeFile(Device("email.app"), "application");
    testing::WriteWholeFile(Device("email.db"), std::string(71, '\0'));
    com::ComPtr<testing::RecordingSink> broken;
    com::MakeComObject(broken);
    RunSession(broken.Get());
    ASSERT_FALSE(broken->Errors().empty());
    EXPECT_EQ(broken->Errors().front(),
              "error 1 The file email.db could not be transferred between the device and the computer.");
    EXPECT_EQ(testing::ReadWholeFile(Device("email.db")), std::string(71, '\0'));
}

// A server that refuses DELE keeps the letter, but the session stores it once and goes on with
// the next one (the device's free space stops a session that would store it again and again).
TEST_F(SyncMail15Test, ARefusedDeleStoresTheLetterOnceAndTheSessionGoesOn) {
    server_.FillMailbox(kUser, {Plain("undeletable", "stays on the server"), Plain("next", "the one after")});
    server_.SetFaults("refuse-dele\n");
    SetDeviceSetting("FreeBytes", 20000);
    auto sink = Session();
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Events());
    EXPECT_EQ(RowsWithSubject("undeletable"), 1u);
    EXPECT_EQ(RowsWithSubject("next"), 1u);
    EXPECT_EQ(server_.Mailbox(kUser).size(), 2u);
}

// A MIME letter whose only content header is its transfer encoding is plain text (RFC 2045):
// its decoded text is stored.
TEST_F(SyncMail15Test, AMimeLetterWithoutContentTypeIsStoredAsText) {
    server_.FillMailbox(kUser,
                        {"From: Sender <sender@example.org>\r\nTo: TDMAILB@zelvan.net\r\nSubject: untyped\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"
                         "Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\nbreak a=3Db\r\n"});
    server_.SetFaults("no-content-type\n");
    auto sink = Session();
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Events());
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].subject, "untyped");
    EXPECT_EQ(rows[3].body.rfind("softbreak a=b\n", 0), 0u) << rows[3].body;
}

// An attachment in an encoding we cannot decode is stored as it arrived, never dropped.
TEST_F(SyncMail15Test, AnAttachmentWeCannotDecodeIsStoredAsItArrived) {
    const std::string uuencoded = "begin 644 a.txt\r\n#86)C\r\n`\r\nend";
    server_.FillMailbox(kUser, {WithAttachments("uu", {{"a.txt", "x-uuencode", uuencoded}}, "See a.txt")});
    auto sink = Session();
    EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Events());
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows[3].attachments.rfind("a.txt>/default/System/EMAIL/", 0), 0u) << rows[3].attachments;
    const std::string stored = rows[3].attachments.substr(rows[3].attachments.rfind('/') + 1);
    EXPECT_EQ(testing::ReadWholeFile(Device("System\\EMAIL\\" + stored)), uuencoded);
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
}

// An attachment that cannot be written on the PC makes the letter a failed store: the server
// keeps it and no record names a missing file.
TEST_F(SyncMail15Test, AnAttachmentThatCannotBeWrittenOnThePcKeepsTheLetterOnTheServer) {
    server_.FillMailbox(kUser, {WithAttachments("unwritable", {{"data.bin", "base64", "YWJjZGVm"}}, "text")});
    const std::string blocked = root_ + "\\blocked";
    testing::WriteWholeFile(blocked, "a file where the temporary folder would be");
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    {
        std::optional<EnvironmentOverride> tmp, temp;
        RunSession(sink.Get(), [&] { // the working folder of the transfer lies below a file
            tmp.emplace("TMP", blocked + "\\temp");
            temp.emplace("TEMP", blocked + "\\temp");
        });
    }
    EXPECT_FALSE(sink->Errors().empty());
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    EXPECT_EQ(RowsWithSubject("unwritable"), 0u);
}

// Every exit of the transfer after a letter was sent takes the table back to the device first:
// the manager runs no Finalize after a failed phase, and the letter would go out again.
TEST_F(SyncMail15Test, AFailureAfterASendStillTakesTheSentMarksToTheDevice) {
    server_.FillMailbox(kUser, {Plain("waiting", "not fetched this time")});
    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    {
        BrokenClassRegistration noPop3("{A1ED94FB-A378-4366-B286-0C4C4CAF9A0A}");
        ASSERT_TRUE(noPop3.Broken());
        RunSession(sink.Get());
    }
    EXPECT_FALSE(sink->Errors().empty());
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u);
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].status, 32) << "marked sent on the device";
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);

    Session();
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u) << "not sent twice";
}

// Letters that cannot go this time stay in the outbox (a recipient that cannot go on a command
// line, an attachment missing on the device) and are reported; the others are sent and the
// receiving goes on.
TEST_F(SyncMail15Test, LettersThatCannotGoStayInTheOutboxAndTheRestGoesOn) {
    AddOutboxLetter("bad@example.org>\r\nRCPT TO:<evil@example.org", "unsafe");
    AddOutboxLetter("later@example.org", "no file", "gone.txt>/default/System/EMAIL/00009999.att");
    server_.FillMailbox(kUser, {Plain("incoming", "still received")});
    auto sink = Session();
    ASSERT_EQ(sink->Errors().size(), 1u) << ::testing::PrintToString(sink->Events());
    const std::string error = sink->Errors()[0];
    EXPECT_EQ(error.rfind("error 3 The mail could not be sent.", 0), 0u) << error;
    EXPECT_NE(error.find("bad@example.org"), std::string::npos) << error;
    EXPECT_NE(error.find("The data on the device could not be read."), std::string::npos) << error;
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u);
    EXPECT_TRUE(server_.Mailbox("later@example.org").empty());
    EXPECT_EQ(testing::ReadWholeFile(server_.root + "\\log.txt").find("evil@"), std::string::npos);
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[1].status, 32);
    EXPECT_EQ(rows[3].status, 4) << rows[3].subject;
    EXPECT_EQ(rows[4].status, 4) << rows[4].subject;
    EXPECT_EQ(rows[5].subject, "incoming");
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
}

// A refused recipient fails its letter alone: it stays in the outbox and is named in the report,
// none of its recipients gets it, the other letter is sent and the receiving goes on.
TEST_F(SyncMail15Test, ARefusedRecipientFailsItsLetterAlone) {
    AddOutboxLetter("later@example.org", "goes");
    server_.FillMailbox(kUser, {Plain("incoming", "still received")});
    server_.SetFaults("refuse-rcpt 2\n"); // other@example.org, the second recipient of the first letter
    auto sink = Session();
    ASSERT_EQ(sink->Errors().size(), 1u) << ::testing::PrintToString(sink->Events());
    const std::string error = sink->Errors()[0];
    EXPECT_EQ(error.rfind("error 3 The mail could not be sent.", 0), 0u) << error;
    EXPECT_NE(error.find("friend@example.org;other@example.org"), std::string::npos) << error;
    EXPECT_TRUE(server_.Mailbox("friend@example.org").empty());
    EXPECT_TRUE(server_.Mailbox("other@example.org").empty());
    EXPECT_EQ(server_.Mailbox("later@example.org").size(), 1u);
    const std::vector<MailRow> rows = Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].status, 4);
    EXPECT_EQ(rows[3].subject, "goes");
    EXPECT_EQ(rows[3].status, 32);
    EXPECT_EQ(rows[4].subject, "incoming");
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
}

// The connection breaking after letter 3 of 5 ends the POP3 session without QUIT, so the server
// keeps all five: the next session knows the three by their Message-ID, deletes them on the
// server without storing them again, and stores the others (a letter without a Message-ID too).
TEST_F(SyncMail15Test, AReceiveBrokenOffIsTakenUpWithoutDuplicates) {
    std::vector<std::string> letters;
    for (int i = 1; i <= 5; ++i)
        letters.push_back(Plain("letter " + std::to_string(i), "number " + std::to_string(i)));
    server_.FillMailbox(kUser, letters);
    server_.SetFaults("close-retr 4\n");
    auto broken = Session();
    EXPECT_FALSE(broken->Errors().empty());
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(RowsWithSubject("letter " + std::to_string(i)), 1u) << i;
    ASSERT_EQ(server_.Mailbox(kUser).size(), 5u) << "without QUIT the server deletes nothing";

    testing::WriteWholeFile(server_.MailboxFolder(kUser) + "\\000006.eml",
                            "From: Sender <sender@example.org>\r\nTo: TDMAILB@zelvan.net\r\n"
                            "Subject: no id\r\n\r\nA letter without a Message-ID\r\n");
    server_.SetFaults("");
    auto next = Session();
    EXPECT_TRUE(next->Errors().empty()) << ::testing::PrintToString(next->Events());
    EXPECT_EQ(next->Events().back(), "custom 5 3 0 letters sent, 3 letters received.");
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(RowsWithSubject("letter " + std::to_string(i)), 1u) << i;
    EXPECT_EQ(RowsWithSubject("no id"), 1u);
    EXPECT_EQ(Rows().size(), 9u);
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
}

// A device without room for a letter: the letter stays on the server and Finalize says why.
TEST_F(SyncMail15Test, ADeviceWithoutRoomKeepsTheLetterOnTheServer) {
    server_.FillMailbox(kUser, {Plain("too big", std::string(3000, 'x'))});
    SetDeviceSetting("FreeBytes", 1024);
    auto sink = Session();
    ASSERT_FALSE(sink->Errors().empty());
    EXPECT_EQ(sink->Errors().back(),
              "error 5 The device has no space for further letters; they stay on the server.");
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    EXPECT_EQ(Rows().size(), 3u);
}

// A record the table refuses: the letter stays on the server, Finalize says why, and the
// attachments already copied to the device are deleted again.
TEST_F(SyncMail15Test, ARefusedRecordKeepsTheLetterAndLeavesNoAttachmentBehind) {
    LimitTableToItsSize();
    server_.FillMailbox(
        kUser, {WithAttachments("refused", {{"one.bin", "base64", "b25l"}, {"two.bin", "base64", "dHdv"}},
                                std::string(9000, 'r'))});
    auto sink = Session();
    ASSERT_FALSE(sink->Errors().empty());
    EXPECT_EQ(sink->Errors().back(),
              "error 5 The mailbox on the device is full; further letters stay on the server.");
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    EXPECT_EQ(RowsWithSubject("refused"), 0u);
    EXPECT_EQ(AttachmentFiles(), (std::vector<std::string>{"00000001.att"}));
}

// An attachment copy to the device that fails after another one went: a failed store, the server
// keeps the letter, and the attachment copied first is deleted again.
TEST_F(SyncMail15Test, AFailedAttachmentCopyKeepsTheLetterAndLeavesNoAttachmentBehind) {
    server_.FillMailbox(
        kUser, {WithAttachments("half", {{"one.bin", "base64", "b25l"}, {"two.bin", "base64", "dHdv"}},
                                "two files")});
    SetDeviceSetting("ImportsBeforeFailure", 1);
    auto sink = Session();
    ASSERT_FALSE(sink->Errors().empty());
    EXPECT_EQ(server_.Mailbox(kUser).size(), 1u);
    EXPECT_EQ(AttachmentFiles(), (std::vector<std::string>{"00000001.att"}));
}

// A copy waits for 30 seconds of silence, not 30 seconds in all: a long copy that keeps reporting
// progress ends well; one that falls silent fails after the silence.
TEST_F(SyncMail15Test, ADeviceCopyWaitsForSilenceNotForItsWholeLength) {
    const std::string source = std::string(kDeviceId) + "\\default\\email.db";
    char delay[] = "delay 3000";
    LONG length = 0;
    LPSTR reply = nullptr;
    ASSERT_EQ(served_.Hub()->Command(const_cast<LPSTR>(kDeviceId), delay, &length, &reply), S_OK);
    CoTaskMemFree(reply);
    HRESULT reporting = E_FAIL, silent = S_OK;
    ASSERT_TRUE(testing::RunOnWorkerThread(
        [&] {
            com::ComApartment apartment;
            com::ComPtr<IZelvanMgr> hub;
            ASSERT_EQ(CreateHub(hub), S_OK);
            const std::string pc = MailWorkingFolder() + "\\silence.db";
            SetDeviceSetting("ProgressEveryMs", 300);
            reporting = CopyDeviceFile(hub.Get(), source, pc, 1000);
            SetDeviceSetting("ProgressEveryMs", 0);
            silent = CopyDeviceFile(hub.Get(), source, pc, 1000);
            DeleteFileA(pc.c_str());
        },
        60000));
    EXPECT_EQ(reporting, S_OK) << "three seconds of copying with progress every 0.3 s";
    EXPECT_EQ(silent, E_FAIL) << "three seconds of silence";
}

// Benchmark (its own ctest entry): a session that receives 200 letters of 4 KB and sends 200,
// against the raw hub copies and client transfers it contains. Each round starts the device and
// the mailboxes afresh (untimed), then times the session and its raw transfers in turn; one
// untimed round first pays the process's one-time costs of both, and each side's figure is the
// median of the timed rounds.
TEST_F(SyncMail15Test, BenchmarkASessionAgainstItsRawTransfers) {
    constexpr int kLetters = 200;
    constexpr int kRounds = 5;
    const std::string body(4000, 'b');
    std::vector<std::string> incoming;
    for (int i = 0; i < kLetters; ++i)
        incoming.push_back(Plain("in" + std::to_string(i), body));
    std::vector<std::string> outgoing;
    for (int i = 0; i < kLetters; ++i)
        outgoing.push_back(
            "From: @TDMAILB<TDMAILB@zelvan.net>\r\nTo: bench@example.org\r\nSubject: Bench\r\n\r\n" + body +
            "\r\n.\r\n");
    double committing = -1;

    // The fixture's database with kLetters letters of 4 KB in its outbox, written through the
    // database engine.
    const auto prepareDevice = [&] {
        CopyDatabaseFixture();
        const double start = test::BenchmarkClock();
        com::ComPtr<IZvDBEngine> engine;
        com::ComPtr<IZvDBConnection> connection;
        com::ComPtr<IZvDBTable> table;
        com::ComPtr<IZvDBCursor> cursor;
        std::string path = Device("email.db");
        if (HasFatalFailure() ||
            FAILED(CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvDBEngine),
                                    reinterpret_cast<void**>(&engine))) ||
            FAILED(engine->OpenConnection(path.data(), &connection)) ||
            FAILED(connection->GetTableByIdx(0, &table)) || FAILED(table->OpenNullCursor(&cursor)))
            return false;
        for (int i = 0; i < kLetters; ++i) {
            com::ComPtr<IZvDBRecord> record;
            std::string from = "TDMAILB@zelvan.net", to = "bench@example.org", subject = "Bench " + std::to_string(i);
            std::string text = body;
            if (FAILED(cursor->Add(&record)))
                return false;
            record->SetByte(0, 4);
            record->SetString(4, from.data());
            record->SetString(5, to.data());
            record->SetString(6, subject.data());
            record->SetString(7, text.data());
            if (FAILED(record->Commit()))
                return false;
        }
        if (committing < 0)
            committing = test::BenchmarkClock() - start;
        return true;
    };
    const auto session = [&]() -> double {
        if (!prepareDevice()) {
            ADD_FAILURE() << "the device's outbox could not be written";
            return -1;
        }
        server_.FillMailbox(kUser, incoming);
        server_.FillMailbox("bench@example.org", {});
        com::ComPtr<testing::RecordingSink> sink;
        com::MakeComObject(sink);
        const double start = test::BenchmarkClock();
        RunSession(sink.Get());
        const double seconds = test::BenchmarkClock() - start;
        const std::string summary = "custom 5 3 201 letters sent, 200 letters received.";
        EXPECT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Errors());
        EXPECT_EQ(sink->Events().back(), summary);
        return sink->Errors().empty() && sink->Events().back() == summary ? seconds : -1;
    };
    // The same transfers without the synchronizer, from the device as the session left it: the
    // four hub copies of a session, one SMTP send of the letters, one POP3 receive of the letters.
    const auto raw = [&]() -> double {
        server_.FillMailbox(kUser, incoming);
        server_.FillMailbox("bench@example.org", {});
        double seconds = -1;
        bool ok = true;
        const bool ended = testing::RunOnWorkerThread(
            [&] {
                com::ComApartment apartment;
                com::ComPtr<IZelvanMgr> hub;
                ok = SUCCEEDED(CreateHub(hub));
                const std::string pc = MailWorkingFolder() + "\\bench.";
                const double begin = test::BenchmarkClock();
                for (const char* name : {"email.db", "4D41494C.t"})
                    ok = ok && SUCCEEDED(CopyDeviceFile(
                                   hub.Get(), std::string(kDeviceId) + "\\default\\" + name, pc + name));
                for (int i = 0; i < 2; ++i)
                    ok = ok && SUCCEEDED(CopyDeviceFile(hub.Get(), pc + "4D41494C.t",
                                                        std::string(kDeviceId) + "\\default\\bench.t"));
                com::ComPtr<IZvMailClient> smtp, pop3;
                com::ComPtr<ZvLetterEnum> letters;
                ok = ok && SUCCEEDED(ZvLetterEnum::Create(letters));
                for (const std::string& text : outgoing)
                    ok = ok &&
                         SUCCEEDED(letters->Append("TDMAILB@zelvan.net", "bench@example.org", text.c_str()));
                std::string user = kUser;
                ok = ok &&
                     SUCCEEDED(CoCreateInstance(CLSID_ZvSMTP, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IZvMailClient, reinterpret_cast<void**>(&smtp))) &&
                     SUCCEEDED(smtp->Send(user.data(), letters.Get())) && SUCCEEDED(smtp->Disconnect());
                ok = ok && SUCCEEDED(CoCreateInstance(CLSID_ZvPOP3, nullptr, CLSCTX_INPROC_SERVER,
                                                      IID_IZvMailClient, reinterpret_cast<void**>(&pop3)));
                for (int received = 0; ok;) {
                    ZVLETTER letter = {};
                    HRESULT hr = pop3->Receive(user.data(), &letter);
                    FreeLetterStrings(letter);
                    if (FAILED(hr) || hr == S_FALSE) {
                        ok = hr == S_FALSE && received == kLetters;
                        break;
                    }
                    ++received;
                    pop3->EndReceive(0);
                }
                ok = ok && SUCCEEDED(pop3->Disconnect());
                seconds = test::BenchmarkClock() - begin;
                for (const char* name : {"email.db", "4D41494C.t"})
                    DeleteFileA((pc + name).c_str());
            },
            600000);
        EXPECT_TRUE(ended && ok) << "the raw transfers failed";
        return ended && ok ? seconds : -1;
    };
    ASSERT_GE(session(), 0);
    ASSERT_GE(raw(), 0);
    // For comparison: kLetters records written through the database engine alone (each commit flushes).
    std::printf("200 committed records of 4 KB through the database engine: %.2f s\n", committing);
    const auto rounds = test::TimesOfRounds(kRounds, session, raw);
    ASSERT_EQ(rounds.size(), 2u);
    const double sessionSeconds = test::Median(rounds[0]), rawSeconds = test::Median(rounds[1]);
    ASSERT_GT(rawSeconds, 0.0);
    std::printf("mail sync 1.5 session receiving 200 letters of 4 KB and sending 200: %.2f s against %.2f s of its "
                "raw hub copies and client transfers (median of %d rounds each): %s\n",
                sessionSeconds, rawSeconds, kRounds,
                tv::bench::RatioText(tv::bench::RatioOfRounds(rounds[0], rounds[1]), "<= 1.5").c_str());
}

} // namespace
} // namespace tv::mail
