// The 1.5 mail synchronizer in the running program against an emulated device and the test mail
// server: a session started from the tray sends the outbox (with its attachment) and marks it
// sent, receives the server's letters into the device's mail table and attachment folder, and a
// second session finds nothing new. The device's mail database is made by the fixture writer and
// left for the wrapper script to compare with the writer's description of the expected result.
// Without the mail application or without a reachable mail server the session ends in a clear
// error and the device and the server keep everything.
#include "EmulatorSession.h" // winsock2.h before windows.h

#include "ComPtr.h"
#include "E2eSupport.h"
#include "LangIds.h"
#include "MailServerFixture.h"
#include "SessionTexts.h"
#include "MailTable.h"
#include "ZvSyncMail15.h"
#include <gtest/gtest.h>
#include <cstdio>

namespace tv::e2e {
namespace {

using mail::testing::DoneText;
using devlink15::test::SharedEmulator;
using mail::testing::MailRow;

constexpr int kSlot = 0;
constexpr DWORD kSessionTimeoutMs = 90000;
const char kDeviceId[] = "E2EMAILSYNC1";
const char kUser[] = "E2EM015";
const char kStrId[] = "@E2EM015";
const char kName[] = "Mail15";
const char kTable[] = "4D41494C.t";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string ExeFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

std::string Letter(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) + "@zelvan.net\r\nSubject: " + subject +
           "\r\nMessage-Id: <" + subject + "@x>\r\n\r\n" + body + "\r\n";
}

std::string LetterWithFile(const std::string& subject) {
    return "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) + "@zelvan.net\r\nSubject: " + subject +
           "\r\nMessage-Id: <" + subject + "@x>\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n"
           "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\nYWJjZGVm\r\n--b1--\r\n";
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonOptional(const std::string& text) {
    return text.empty() ? "null" : JsonText(text);
}

class SyncMail15EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        problem_ = SharedEmulator().Problem();
        if (problem_.empty() && !server_.Load())
            problem_ = "no test mail server: run through mail_test.sh";
        if (!problem_.empty())
            return;
        testDeviceRoot_ = UseOnlyEmulatedDevice("tvmail15", kRegistration, kName);
        StoreScript(L"DeviceEvents", nullptr);
        ScheduleOnly({CLSID_ZvSyncMail15}, kStrId);
        const std::wstring volume = SharedEmulator().VolumeWindowsPath(kSlot);
        const std::wstring slot = volume.substr(0, volume.rfind(L'\\'));
        for (const std::wstring& folder : {slot, volume, volume + L"\\System", volume + L"\\System\\EMAIL"})
            CreateDirectoryW(folder.c_str(), nullptr);
        device_ = Narrow(volume);
        plugged_ = SharedEmulator().Plug(kSlot, kDeviceId, kUser, "capacity=3145728") >= 0;
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        if (problem_.empty()) {
            SharedEmulator().Unplug(kSlot, kDeviceId);
            ClearSchedules();
            ForgetEmulatedDevice(kRegistration, testDeviceRoot_);
            for (const char* kind : {"SMTP", "POP3"})
                RegDeleteTreeA(HKEY_CURRENT_USER, (std::string("Software\\Zelvan\\Tavrilon\\") + kind).c_str());
        }
        CoUninitialize();
    }
    void SetUp() override {
        if (!problem_.empty()) {
            if (devlink15::test::DevicesRequired())
                FAIL() << problem_;
            GTEST_SKIP() << problem_;
        }
        ASSERT_TRUE(plugged_);
        server_.PointClient("SMTP", "127.0.0.1", server_.smtpPort);
        server_.PointClient("POP3", "127.0.0.1", server_.pop3Port);
        server_.SetFaults("");
        // The mail application and its database as the fixture writer made them.
        const std::string fixture = ExeFolder() + "\\..\\..\\mail\\mail15-e2e-fixture\\";
        for (const char* name : {"email.db", kTable})
            ASSERT_TRUE(CopyFileA((fixture + name).c_str(), Device(name).c_str(), FALSE)) << fixture << name;
        mail::testing::WriteWholeFile(Device("email.app"), "application");
        mail::testing::WriteWholeFile(Device("System\\EMAIL\\00000001.att"), "attached note");
        if (!program_.MainDialog()) {
            ASSERT_TRUE(program_.Start());
            ASSERT_TRUE(ConnectHub());
            ASSERT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 20000));
        }
    }

    std::string Device(const std::string& path) const { return device_ + "\\" + path; }

    // One session from the tray that is to end with `sent` and `received` letters (or an error);
    // the session dialog's rows at its end.
    std::string Session(long sent = 0, long received = 0) {
        TraySession session;
        EXPECT_TRUE(session.Start(program_.MainDialog(), kName, kStrId));
        if (!session.Dialog())
            return "<no session>";
        const std::string rows =
            session.WaitForEnd(LanguageText(IDS_MAILSYNC_NAME15), kSessionTimeoutMs, DoneText(sent, received));
        EXPECT_EQ(rows.rfind("<no end>", 0), std::string::npos) << rows;
        EXPECT_TRUE(session.Close(kSessionTimeoutMs));
        return rows;
    }

    std::vector<MailRow> Rows() const {
        std::vector<MailRow> rows;
        EXPECT_TRUE(mail::testing::ReadMailTable(Device("email.db"), rows)) << "the device's mail table cannot be read";
        return rows;
    }

    // Keeps the device's mail database in the work folder with the fixture writer's description
    // of what it must hold, for the wrapper's byte-for-byte comparison.
    void LeaveFixtureCheck(const std::vector<MailRow>& rows) const {
        CreateDirectoryA("device15", nullptr);
        for (const char* name : {"email.db", kTable})
            EXPECT_TRUE(CopyFileA(Device(name).c_str(), (std::string("device15\\") + name).c_str(), FALSE));
        std::string records;
        for (const MailRow& row : rows) {
            if (!records.empty())
                records += ",\n";
            records += "{\"key\": " + std::to_string(row.key) + ", \"values\": [" + std::to_string(row.status) + ", " +
                       std::to_string(row.time) + ", 0, " + JsonOptional(row.messageId) + ", " +
                       JsonOptional(row.from) + ", " + JsonOptional(row.to) + ", " + JsonOptional(row.subject) + ", " +
                       JsonOptional(row.body) + ", " + JsonOptional(row.attachments) + "]}";
        }
        const std::string description =
            "{\"catalog\": \"email.db\", \"tables\": [{\"name\": \"Mail\", \"id\": 1296124236, \"size\": 8192, "
            "\"growth\": 4096, \"max\": 0, \"fields\": [[\"Status\", 3], [\"Time\", 5], [\"Folder\", 5], "
            "[\"MessageId\", 10], [\"From\", 10], [\"To\", 10], [\"Subject\", 10], [\"Body\", 8], "
            "[\"Attachments\", 10]], \"records\": [\n" +
            records + "]}]}\n";
        mail::testing::WriteWholeFile("device15-expected.json", description);
        mail::testing::WriteWholeFile("fixture-checks.txt", "dbfixture device15-expected.json device15\n");
    }

    static std::string problem_, testDeviceRoot_, device_;
    static bool plugged_;
    static RunningProgram program_;
    static mail::testing::MailServer server_;
};
std::string SyncMail15EndToEnd::problem_;
std::string SyncMail15EndToEnd::testDeviceRoot_;
std::string SyncMail15EndToEnd::device_;
bool SyncMail15EndToEnd::plugged_ = false;
RunningProgram SyncMail15EndToEnd::program_;
mail::testing::MailServer SyncMail15EndToEnd::server_;

TEST_F(SyncMail15EndToEnd, ASessionSendsAndReceivesWithAttachmentsAndASecondFindsNothingNew) {
    server_.FillMailbox(kUser, {Letter("plain", "A plain letter\r\nof two lines"), LetterWithFile("with file")});
    const std::string name = LanguageText(IDS_MAILSYNC_NAME15);
    std::string rows = Session(1, 2);
    EXPECT_NE(rows.find(name + ": " + DoneText(1, 2)), std::string::npos) << rows;

    // The outbox letter went to both recipients with its attachment and is marked sent.
    for (const char* to : {"friend@example.org", "other@example.org"}) {
        const std::vector<std::string> got = server_.Mailbox(to);
        ASSERT_EQ(got.size(), 1u) << to;
        EXPECT_NE(got[0].find("Hello from the device"), std::string::npos);
        EXPECT_NE(got[0].find("filename=\"note.txt\""), std::string::npos);
        EXPECT_NE(got[0].find("YXR0YWNoZWQgbm90ZQ"), std::string::npos); // "attached note"
    }
    EXPECT_TRUE(server_.Mailbox("done@example.org").empty());
    EXPECT_TRUE(server_.Mailbox(kUser).empty());

    // The server's letters are in the device's table, the attachment in its folder.
    std::vector<MailRow> table = Rows();
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0].status, 1);
    EXPECT_EQ(table[1].status, 32);
    EXPECT_EQ(table[2].status, 32);
    EXPECT_EQ(table[3].status, 1);
    EXPECT_EQ(table[3].from, "sender@example.org");
    EXPECT_EQ(table[3].subject, "plain");
    EXPECT_EQ(table[3].messageId, "<plain@x>");
    EXPECT_EQ(table[3].body.rfind("A plain letter\nof two lines", 0), 0u) << table[3].body;
    EXPECT_EQ(table[4].body.rfind("See the file.", 0), 0u);
    ASSERT_EQ(table[4].attachments.rfind("data.bin>/default/System/EMAIL/", 0), 0u) << table[4].attachments;
    const std::string stored = table[4].attachments.substr(table[4].attachments.rfind('/') + 1);
    EXPECT_EQ(mail::testing::ReadWholeFile(Device("System\\EMAIL\\" + stored)), "abcdef");
    LeaveFixtureCheck(table);
    const std::string catalog = mail::testing::ReadWholeFile(Device("email.db"));
    const std::string tableBytes = mail::testing::ReadWholeFile(Device(kTable));

    // Nothing new: nothing sent again, nothing received, the device's files unchanged.
    rows = Session();
    EXPECT_NE(rows.find(name + ": " + DoneText(0, 0)), std::string::npos) << rows;
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u);
    EXPECT_EQ(Rows().size(), 5u);
    EXPECT_EQ(mail::testing::ReadWholeFile(Device("email.db")), catalog);
    EXPECT_EQ(mail::testing::ReadWholeFile(Device(kTable)), tableBytes);
}

TEST_F(SyncMail15EndToEnd, WithoutAMailServerTheSessionEndsInAnErrorAndKeepsTheOutbox) {
    // A mail account whose server does not answer.
    server_.PointClient("SMTP", "127.0.0.1", 1);
    server_.PointClient("POP3", "127.0.0.1", 1);
    const std::string rows = Session();
    EXPECT_NE(rows.find(LanguageText(IDS_MAILSYNC_SEND_FAILED)), std::string::npos) << rows;
    const std::vector<MailRow> table = Rows();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[1].status, 4); // still in the outbox
}

TEST_F(SyncMail15EndToEnd, WithoutTheMailApplicationTheSessionSaysSo) {
    DeleteFileA(Device("email.app").c_str());
    const std::string rows = Session();
    EXPECT_NE(rows.find(LanguageText(IDS_MAILSYNC_NO_MAIL_APP)), std::string::npos) << rows;
}

} // namespace
} // namespace tv::e2e
