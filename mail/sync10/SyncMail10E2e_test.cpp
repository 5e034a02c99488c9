// The 1.0 mail synchronizer in the running program against the emulated 1.0 device on COM4 (a
// phase of zvl10_e2e, run through mail_test.sh with the test mail server): a session started
// from the tray sends the letter waiting in the device's mailbox file and marks it sent, receives
// the server's letters into the file, and a second session finds nothing new and leaves the file
// as it was. The script wrote the file with the fixture writer; the comparison of the file after
// the sessions with the writer's description of it is left to the wrapper (fixture-checks.txt), which the script put beside it.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "LangIds.h"
#include "MailServerFixture.h"
#include "SessionTexts.h"
#include "ZvSyncMail10.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>

namespace tv::e2e {
namespace {

using mail::testing::DoneText;
constexpr DWORD kSessionTimeoutMs = 120000;
const char kName[] = "Preset10";
const char kStrId[] = "@ZV10E2E";
const char kUser[] = "ZV10E2E";
const std::string kRegistration = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kStrId;

std::string Letter(const std::string& subject, const std::string& body) {
    return "From: Sender <sender@example.org>\r\nTo: " + std::string(kUser) + "@zelvan.net\r\nSubject: " + subject +
           "\r\nMessage-Id: <" + subject + "@x>\r\n\r\n" + body + "\r\n";
}

class SyncMail10EndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const char* mailbox = std::getenv("TV_MAIL10_MAILBOX");
        if (!server_.Load() || !mailbox) {
            problem_ = "run by zvl10_e2e.sh through mail_test.sh";
            return;
        }
        mailbox_ = mailbox;
        // The device is the program's only device, known already; only the mail synchronizer runs.
        testDeviceRoot_ = UseOnlyEmulatedDevice("tvmail10", kRegistration, kName);
        SetUserNumber(kRegistration, "DisconnectionAlert", 0);
        StoreScript(L"DeviceEvents", nullptr);
        ScheduleOnly({CLSID_ZvSyncMail10}, kStrId);
        server_.PointClient("SMTP", "127.0.0.1", server_.smtpPort);
        server_.SetFaults("");
    }
    static void TearDownTestSuite() {
        if (program_.MainDialog()) {
            EXPECT_EQ(program_.Exit(), 0);
        }
        if (problem_.empty()) {
            ClearSchedules();
            ForgetEmulatedDevice(kRegistration, testDeviceRoot_);
            RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\SMTP");
        }
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_TRUE(problem_.empty()) << problem_;
        if (!program_.MainDialog()) {
            ASSERT_TRUE(program_.Start());
            ASSERT_TRUE(ConnectHub());
            ASSERT_TRUE(WaitUntil([] { return HubDeviceCount() == 1; }, 60000));
        }
    }

    std::string Session(long sent, long received) {
        TraySession session;
        EXPECT_TRUE(session.Start(program_.MainDialog(), kName, kStrId));
        if (!session.Dialog())
            return "<no session>";
        const std::string rows =
            session.WaitForEnd(LanguageText(IDS_MAILSYNC_NAME10), kSessionTimeoutMs, DoneText(sent, received));
        EXPECT_EQ(rows.rfind("<no end>", 0), std::string::npos) << rows;
        EXPECT_TRUE(session.Close(kSessionTimeoutMs));
        return rows;
    }

    static std::string problem_, testDeviceRoot_, mailbox_;
    static RunningProgram program_;
    static mail::testing::MailServer server_;
};
std::string SyncMail10EndToEnd::problem_;
std::string SyncMail10EndToEnd::testDeviceRoot_;
std::string SyncMail10EndToEnd::mailbox_;
RunningProgram SyncMail10EndToEnd::program_;
mail::testing::MailServer SyncMail10EndToEnd::server_;

TEST_F(SyncMail10EndToEnd, ASessionSendsAndReceivesAndASecondFindsNothingNew) {
    const std::string before = mail::testing::ReadWholeFile(mailbox_);
    ASSERT_EQ(before.size(), 2000u) << mailbox_;
    server_.FillMailbox(kUser, {Letter("one", "First letter"), Letter("two", "Second letter\r\nof two lines")});
    const std::string name = LanguageText(IDS_MAILSYNC_NAME10);
    std::string rows = Session(1, 2);
    EXPECT_NE(rows.find(name + ": " + DoneText(1, 2)), std::string::npos) << rows;

    const std::vector<std::string> sent = server_.Mailbox("friend@example.org");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].find("Hello from the device"), std::string::npos);
    EXPECT_NE(sent[0].find("Subject: From the device"), std::string::npos);
    EXPECT_TRUE(server_.Mailbox("done@example.org").empty());
    EXPECT_TRUE(server_.Mailbox(kUser).empty());
    const std::string after = mail::testing::ReadWholeFile(mailbox_);
    EXPECT_EQ(after.size(), 2000u);
    // The wrapper compares the file with the fixture writer's description after these sessions.
    mail::testing::WriteWholeFile("email-after.dat", after);
    mail::testing::WriteWholeFile("fixture-checks.txt", "mailbox10 mail10_e2e_after.json email-after.dat\n");

    rows = Session(0, 0);
    EXPECT_NE(rows.find(name + ": " + DoneText(0, 0)), std::string::npos) << rows;
    EXPECT_EQ(server_.Mailbox("friend@example.org").size(), 1u);
    EXPECT_EQ(mail::testing::ReadWholeFile(mailbox_), after);
}

} // namespace
} // namespace tv::e2e
