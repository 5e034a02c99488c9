// The mail object model from a script over the test messaging provider: folders, fields,
// recipients, entry ids, insert and remove, and the two faults mended in it.
#include "BridgeTestSupport.h"
#include "PimBridge.h"
#include <gtest/gtest.h>

namespace tv::pimbridge::test {
namespace {

class MailObjectsTest : public ::testing::Test {
  protected:
    void SetUp() override { store_ = PrepareStore(kFixtureStore, L"pimbridge-objects.store"); }
    std::string Store() const { return ReadFile(store_); }

    com::ComApartment apartment_;
    std::wstring store_;
};

TEST_F(MailObjectsTest, FoldersGiveTheirMessagesAndFields) {
    Script script;
    EXPECT_EQ(script.Run(LR"(function test() {
        var p = make("ZvOutlookProvider"), out = [];
        out.push(hr(function () { p.GetFolder(6); }));
        p.LogOn();
        var inbox = p.GetFolder(6);
        out.push(hr(function () { inbox.GetMessage(0); }));
        out.push(inbox.Count());
        var m = inbox.GetMessage(0);
        out.push(m.Subject, m.Body, m.Sender.GetRecipientName(), m.Sender.GetRecipientEmailAddress(),
                 m.Sender.GetRecipientType(), m.Importance, m.IsRead, m.EntryID);
        var r = m.Recipients;
        out.push(r.Count(), r.GetRecipient(0).GetRecipientName(), r.GetRecipient(0).GetRecipientEmailAddress(),
                 r.GetRecipient(1).GetRecipientType());
        var other = inbox.GetMessage(1);
        out.push(other.Sender.GetRecipientEmailAddress(), other.IsRead);
        out.push(hr(function () { inbox.GetMessage(2); }), hr(function () { p.GetFolder(7); }));
        out.push(p.GetFolder(5).Count(), p.GetFolder(16).Count(), p.GetFolder(4).Count());
        return out.join("|");
    })"),
              "80004005|8001013f|2|Hello from Carol|First line\nSecond line|Carol Sender|carol@example.org|0|2|false|"
              "EFGFCAAAEGAAAAAA|2|Dave Reader|dave@example.org|2|Frank Internal|true|80070057|80070057|0|1|1");
}

TEST_F(MailObjectsTest, MailDateComesFromTheFoldersOwnProperty) {
    Script script;
    // Inbox: delivery time; Sent Items: submit time; Drafts: last modification.
    EXPECT_EQ(script.Run(LR"(function test() {
        var p = make("ZvOutlookProvider"); p.LogOn();
        function day(type) { var f = p.GetFolder(type); f.Count(); var d = new Date(f.GetMessage(0).MailDate);
                             return d.getUTCFullYear() + "-" + (d.getUTCMonth() + 1) + "-" + d.getUTCDate() + " " + d.getUTCHours(); }
        var inbox = p.GetFolder(6); inbox.Count();
        var t = new Date(inbox.GetMessage(0).LastModificationTime);
        return [day(6), day(4), day(16), t.getUTCHours()].join("|");
    })"),
              "2026-11-30 8|2026-10-5 12|2026-9-9 9|9");
}

TEST_F(MailObjectsTest, EntryIdTextsThatAreNoEntryIdsAreRefused) {
    Script script;
    EXPECT_EQ(script.Run(LR"(function test() {
        var p = make("ZvOutlookProvider"); p.LogOn();
        var inbox = p.GetFolder(6);
        return [inbox.GetMessageByID("EFGFCAAAEGAAAAAA").Subject, hr(function () { inbox.GetMessageByID("BAC"); }),
                hr(function () { inbox.GetMessageByID("BQ"); }), hr(function () { inbox.RemoveMessage(""); })].join("|");
    })"),
              "Hello from Carol|80070057|80070057|80070057");
}

TEST_F(MailObjectsTest, InsertedMessageIsStoredAndBoundThenRemoved) {
    Script script;
    EXPECT_EQ(script.Run(LR"(function test() {
        var p = make("ZvOutlookProvider"); p.LogOn();
        var drafts = p.GetFolder(16);
        var m = make("ZvMailMessage"), out = [];
        out.push(m.Importance, hr(function () { m.EntryID; }), hr(function () { m.SaveChanges(); }),
                 hr(function () { m.MailDate; }));
        m.Subject = "From the device"; m.Body = "Body text";
        m.Sender = recipient("Hank Device", "hank@example.org", 0);
        var list = make("ZvRecipients");
        list.AddRecipient(recipient("Ivy To", "ivy@example.org", 1));
        list.AddRecipient(recipient("Nobody", "none@example.org", 0));
        list.AddRecipient(recipient("Jay Bcc", "jay@example.org", 3));
        out.push(list.Count());
        m.Recipients = list;
        m.MailDate = dates.Utc(2026, 12, 2, 7, 30, 0);
        drafts.InsertMessage(m);
        var id = m.EntryID;
        out.push(id.length, m.Subject, m.Recipients.Count(), m.Sender.GetRecipientEmailAddress(), drafts.Count());
        m.Subject = "Edited"; m.SaveChanges();
        out.push(drafts.GetMessageByID(id).Subject);
        return out.join("|");
    })"),
              "1|80004005|80004005|80004005|2|16|From the device|2|hank@example.org|2|Edited");
    const std::string stored = Store();
    const size_t drafts = stored.find("folder Drafts");
    ASSERT_NE(drafts, std::string::npos);
    const std::string inserted = stored.substr(drafts);
    for (const char* line : {"prop 0037001E Edited", "prop 1000001E Body text", "prop 0042001E Hank Device",
                             "prop 005D001E Hank Device", "prop 0065001E hank@example.org", "prop 0069001E hank@example.org",
                             "prop 0C1E001E SMTP", "prop 0068001E SMTP", "prop 0064001E SMTP", "rprop 3001001E Ivy To",
                             "rprop 0C150003 3", "rprop 3002001E SMTP"})
        EXPECT_NE(inserted.find(line), std::string::npos) << line;
    EXPECT_EQ(inserted.find("Nobody"), std::string::npos);

    EXPECT_EQ(script.Run(LR"(function test() {
            var p = make("ZvOutlookProvider"); p.LogOn();
            var drafts = p.GetFolder(16); drafts.Count();
            var id = drafts.GetMessage(1).EntryID;
            drafts.RemoveMessage(id);
            return [drafts.Count(), hr(function () { drafts.GetMessageByID(id); })].join("|");
        })"),
              "1|8004010f");
    EXPECT_EQ(Store().find("From the device"), std::string::npos);
    EXPECT_EQ(Store().find("Edited"), std::string::npos);
}

TEST_F(MailObjectsTest, WritesOutsideTheirRulesAreRefused) {
    Script script;
    EXPECT_EQ(script.Run(LR"(function test() {
        var p = make("ZvOutlookProvider"); p.LogOn();
        var inbox = p.GetFolder(6), sent = p.GetFolder(4), drafts = p.GetFolder(16);
        inbox.Count(); sent.Count(); drafts.Count();
        var m = inbox.GetMessage(0), out = [];
        out.push(hr(function () { m.Importance = 3; }), hr(function () { m.Recipients = make("ZvRecipients"); }));
        var bad = make("ZvRecipients"); bad.AddRecipient(recipient("Odd", "odd@example.org", 4));
        out.push(hr(function () { m.Recipients = bad; }), hr(function () { m.Sender = recipient("", "x@example.org", 0); }));
        var noSender = make("ZvMailMessage"); noSender.MailDate = dates.DaysAgo(0);
        out.push(hr(function () { inbox.InsertMessage(noSender); }), hr(function () { inbox.InsertMessage(bad); }));
        // Sent Items keeps its sender; Drafts takes the date put without storing it.
        var s = sent.GetMessage(0); s.Sender = recipient("Other", "other@example.org", 0); s.SaveChanges();
        var d = drafts.GetMessage(0); d.MailDate = dates.Utc(2020, 1, 1, 0, 0, 0); d.SaveChanges();
        out.push(sent.GetMessage(0).Sender.GetRecipientName(), new Date(drafts.GetMessage(0).MailDate).getUTCFullYear());
        return out.join("|");
    })"),
              "80004005|80070057|80004005|80004005|80004005|80004005|Me|2026");
}

// The read state of a stored message goes through the message's read-flag call: a put of its
// flags property is refused by the store property by property while the call succeeds.
TEST_F(MailObjectsTest, ReadStateOfAStoredMessageReallyChanges) {
    Script script;
    EXPECT_EQ(script.Run(LR"(function test() {
        var p = make("ZvOutlookProvider"); p.LogOn();
        var inbox = p.GetFolder(6); inbox.Count();
        var unread = inbox.GetMessage(0), read = inbox.GetMessage(1);
        unread.IsRead = true; read.IsRead = false;
        return [inbox.GetMessage(0).IsRead, inbox.GetMessage(1).IsRead].join("|");
    })"),
              "true|false");
    const std::string stored = Store();
    const size_t second = stored.find("id 101");
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(stored.substr(0, second).find("prop 0E070003 1"), std::string::npos);
    EXPECT_NE(stored.substr(second).find("prop 0E070003 0"), std::string::npos);
}

// Folders and messages keep the session they came from: LogOff drops only the provider's own
// reference, and the session ends with the last holder.
TEST_F(MailObjectsTest, SessionOutlivesLogOffWhileObjectsHoldIt) {
    com::ComPtr<IZvOutlookProvider> provider;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZvOutlookProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IZvOutlookProvider,
                                     reinterpret_cast<void**>(&provider)));
    ASSERT_EQ(S_OK, provider->LogOn());
    com::ComPtr<IZvOutlookMailFolder> folder;
    ASSERT_EQ(S_OK, provider->GetFolder(6, &folder));
    ASSERT_EQ(S_OK, provider->LogOff());
    EXPECT_EQ(QueryProvider().extended, 1);
    EXPECT_EQ(QueryProvider().initialised, 1);
    long count = 0;
    EXPECT_EQ(S_OK, folder->Count(&count));
    EXPECT_EQ(count, 2);
    com::ComPtr<IZvMailMessage> message;
    ASSERT_EQ(S_OK, folder->GetMessage(0, &message));
    folder.Reset();
    com::UniqueBstr subject;
    EXPECT_EQ(S_OK, message->get_Subject(subject.Put()));
    EXPECT_STREQ(subject.Get(), L"Hello from Carol");
    EXPECT_EQ(QueryProvider().extended, 1);
    message.Reset();
    EXPECT_EQ(QueryProvider().extended, 0);
    EXPECT_EQ(QueryProvider().initialised, 0);
    com::ComPtr<IZvOutlookMailFolder> none;
    EXPECT_EQ(E_FAIL, provider->GetFolder(6, &none));
}

} // namespace
} // namespace tv::pimbridge::test
