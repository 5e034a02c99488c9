// The 1.5 mail synchronizer's phases driven directly: a hub served on this thread over the
// folder-backed test devices, a mail database written by the fixture writer, the test mail
// server (both of its sides), a recording sink.
#include "AnsiText.h"
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
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "tvsyncmail15_" + std::to_string(GetCurrentProcessId());
        for (const char* folder : {"", "\\devices", "\\devices\\MAILB", "\\devices\\MAILB\\default",
                                   "\\devices\\MAILB\\default\\System", "\\devices\\MAILB\\default\\System\\EMAIL"})
            CreateDirectoryA((root_ + folder).c_str(), nullptr);
        const std::string fixture = ExeFolder() + "\\..\\..\\mail\\mail15-fixture\\";
        for (const char* name : {"email.db", kTable})
            ASSERT_TRUE(CopyFileA((fixture + name).c_str(), Device(name).c_str(), FALSE)) << fixture << name;
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

    std::vector<HRESULT> RunSession(testing::RecordingSink* sink, std::function<void()> between = nullptr) {
        return testing::RunSynchronizerSession(library_.Get(), CLSID_ZvSyncMail15, kDeviceId, sink, between);
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
    ASSERT_EQ(results.size(), 7u);
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

double Seconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Benchmark (its own ctest entry): a session that receives 200 letters of 4 KB and sends 200,
// against the raw hub copies and client transfers it contains, timed in the same run.
TEST_F(SyncMail15Test, BenchmarkASessionAgainstItsRawTransfers) {
    constexpr int kLetters = 200;
    const std::string body(4000, 'b');
    const double setupStart = Seconds();
    {
        com::ComPtr<IZvDBEngine> engine;
        com::ComPtr<IZvDBConnection> connection;
        com::ComPtr<IZvDBTable> table;
        com::ComPtr<IZvDBCursor> cursor;
        std::string path = Device("email.db");
        ASSERT_EQ(CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvDBEngine),
                                   reinterpret_cast<void**>(&engine)), S_OK);
        ASSERT_EQ(engine->OpenConnection(path.data(), &connection), S_OK);
        ASSERT_EQ(connection->GetTableByIdx(0, &table), S_OK);
        ASSERT_EQ(table->OpenNullCursor(&cursor), S_OK);
        for (int i = 0; i < kLetters; ++i) {
            com::ComPtr<IZvDBRecord> record;
            std::string from = "TDMAILB@zelvan.net", to = "bench@example.org", subject = "Bench " + std::to_string(i);
            std::string text = body;
            ASSERT_EQ(cursor->Add(&record), S_OK);
            record->SetByte(0, 4);
            record->SetString(4, from.data());
            record->SetString(5, to.data());
            record->SetString(6, subject.data());
            record->SetString(7, text.data());
            ASSERT_EQ(record->Commit(), S_OK);
        }
    }
    // For comparison: 200 records written through the database engine alone (each commit flushes).
    std::printf("200 committed records of 4 KB through the database engine: %.2f s\n", Seconds() - setupStart);
    std::vector<std::string> incoming;
    for (int i = 0; i < kLetters; ++i)
        incoming.push_back(Plain("in" + std::to_string(i), body));
    server_.FillMailbox(kUser, incoming);

    com::ComPtr<testing::RecordingSink> sink;
    com::MakeComObject(sink);
    double start = Seconds();
    RunSession(sink.Get());
    const double session = Seconds() - start;
    ASSERT_TRUE(sink->Errors().empty()) << ::testing::PrintToString(sink->Errors());
    ASSERT_EQ(sink->Events().back(), "custom 5 3 201 letters sent, 200 letters received.");

    // The same transfers without the synchronizer: the four hub copies of a session, one SMTP
    // send of the letters, one POP3 receive of the letters.
    server_.FillMailbox(kUser, incoming);
    std::vector<std::string> outgoing;
    for (int i = 0; i < kLetters; ++i)
        outgoing.push_back("From: @TDMAILB<TDMAILB@zelvan.net>\r\nTo: bench@example.org\r\nSubject: Bench\r\n\r\n" +
                           body + "\r\n.\r\n");
    double raw = 0;
    bool ok = true;
    testing::RunOnWorkerThread([&] {
        com::ComApartment apartment;
        com::ComPtr<IZelvanMgr> hub;
        ok = SUCCEEDED(CreateHub(hub));
        const std::string pc = MailWorkingFolder() + "\\bench.";
        double begin = Seconds();
        for (const char* name : {"email.db", "4D41494C.t"})
            ok = ok && SUCCEEDED(CopyDeviceFile(hub.Get(), std::string(kDeviceId) + "\\default\\" + name, pc + name));
        for (int i = 0; i < 2; ++i)
            ok = ok && SUCCEEDED(CopyDeviceFile(hub.Get(), pc + "4D41494C.t", std::string(kDeviceId) + "\\default\\bench.t"));
        com::ComPtr<IZvMailClient> smtp, pop3;
        com::ComPtr<ZvLetterEnum> letters;
        ok = ok && SUCCEEDED(ZvLetterEnum::Create(letters));
        for (const std::string& text : outgoing)
            ok = ok && SUCCEEDED(letters->Append("TDMAILB@zelvan.net", "bench@example.org", text.c_str()));
        std::string user = kUser;
        ok = ok && SUCCEEDED(CoCreateInstance(CLSID_ZvSMTP, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                                              reinterpret_cast<void**>(&smtp))) &&
             SUCCEEDED(smtp->Send(user.data(), letters.Get())) && SUCCEEDED(smtp->Disconnect());
        ok = ok && SUCCEEDED(CoCreateInstance(CLSID_ZvPOP3, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                                              reinterpret_cast<void**>(&pop3)));
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
        raw = Seconds() - begin;
        for (const char* name : {"email.db", "4D41494C.t"})
            DeleteFileA((pc + name).c_str());
    }, 600000);
    ASSERT_TRUE(ok);
    ASSERT_GT(raw, 0.0);
    std::printf("mail sync 1.5 session receiving 200 letters of 4 KB and sending 200: %.2f s against %.2f s of its "
                "raw hub copies and client transfers: ratio %.2f (goal <= 1.5)\n",
                session, raw, session / raw);
}

} // namespace
} // namespace tv::mail
