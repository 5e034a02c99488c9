#include "SyncRecords.h"
#include "DeviceId.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace pimsync {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
Bytes ByteString(const std::string& s) {
    return Concat({{static_cast<uint8_t>(s.size())}, Text(s)});
}
Bytes ContactV1(const std::string& s1, uint32_t id, const std::string& s3, const std::string& s8 = "") {
    return Concat({ByteString(s1),
                   {static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
                    static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)},
                   ByteString(s3),
                   ByteString(""),
                   ByteString(""),
                   ByteString(""),
                   ByteString(""),
                   ByteString(s8),
                   ByteString("")});
}
Bytes Task(uint8_t deleted, uint32_t time, const std::string& text, int storedLength = -1) {
    const size_t n = storedLength >= 0 ? static_cast<size_t>(storedLength) : text.size() + 1;
    Bytes task = {deleted,
                  1,
                  2,
                  static_cast<uint8_t>(time >> 24),
                  static_cast<uint8_t>(time >> 16),
                  static_cast<uint8_t>(time >> 8),
                  static_cast<uint8_t>(time),
                  static_cast<uint8_t>(n >> 8),
                  static_cast<uint8_t>(n)};
    Bytes body = Text(text);
    body.push_back(0);
    return Concat({task, body});
}

Bytes Written(const ZvSyncRecordList& list) {
    MemoryWriter out;
    EXPECT_TRUE(list.WriteFile(out));
    return out.Bytes();
}

const ZvContactRecord& ContactAt(const ZvSyncRecordList& list, size_t i) {
    return dynamic_cast<const ZvContactRecord&>(list.At(i));
}
const ZvTaskRecord& TaskAt(const ZvSyncRecordList& list, size_t i) {
    return dynamic_cast<const ZvTaskRecord&>(list.At(i));
}

TEST(PhonebookFileTest, HeadersCountsAndVersions) {
    {
        ZvPhonebookFile list;
        const Bytes empty = {'#', 1, 0, 0};
        MemoryReader in(empty);
        ASSERT_TRUE(list.ReadFile(in));
        EXPECT_TRUE(list.Loaded());
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_EQ(Written(list), empty);
    }
    for (const Bytes& bad :
         {Bytes{'$', 1, 0, 0}, Bytes{'#', 2, 0, 0}, Bytes{'#', 1, 0}, Bytes{'#'}, Bytes{}}) {
        ZvPhonebookFile list;
        MemoryReader in(bad);
        EXPECT_FALSE(list.ReadFile(in));
        EXPECT_FALSE(list.Loaded());
    }
    {
        // A record that cannot be read fails the file; the records before it stay.
        ZvPhonebookFile list;
        const Bytes file = Concat({{'#', 1, 0, 2}, ContactV1("a", 1, "Smith"), {3, 'x'}});
        MemoryReader in(file);
        EXPECT_FALSE(list.ReadFile(in));
        EXPECT_FALSE(list.Loaded());
        EXPECT_EQ(list.Count(), 1u);
    }
}

TEST(PhonebookFileTest, Version1RecordsAreCutToTheirFieldsAndRoundTrip) {
    ZvPhonebookFile list;
    const Bytes file = Concat({{'#', 1, 0, 2},
                               ContactV1("mobile12345", 0x12345678u, "Abcdefghijklmnopq", "x"),
                               ContactV1("9ab", 0, "Jones")});
    MemoryReader in(file);
    ASSERT_TRUE(list.ReadFile(in));
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(ContactAt(list, 0).s1, "Mobile1"); // 7 characters, first letter upper-cased
    EXPECT_EQ(ContactAt(list, 0).s3, "Abcdefghijklmn");
    EXPECT_EQ(ContactAt(list, 0).idNumber, 0x12345678u);
    EXPECT_EQ(ContactAt(list, 1).s1, "9ab");
    // What is written reads back as the same records.
    const Bytes out = Written(list);
    ZvPhonebookFile again;
    MemoryReader in2(out);
    ASSERT_TRUE(again.ReadFile(in2));
    ASSERT_EQ(again.Count(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_TRUE(again.At(i).Equals(list.At(i)));
    EXPECT_EQ(Written(again), out);
}

TEST(PhonebookFileTest, Version0KeepsOnlyItsThreeFields) {
    ZvPhonebookFile list;
    const Bytes file = Concat({{0, 1, 5, 5, 1}, Text("SmithAliceb")});
    MemoryReader in(file);
    ASSERT_TRUE(list.ReadFile(in));
    EXPECT_EQ(list.Version(), 0);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(ContactAt(list, 0).s3, "Smith");
    EXPECT_EQ(ContactAt(list, 0).s5, "Alice");
    EXPECT_EQ(ContactAt(list, 0).s8, "b");
    EXPECT_EQ(Written(list), file);

    // A record made for this list from the PC keeps only what the file stores, so that it equals
    // the record read back in the next session.
    auto fromPc = list.NewRecord();
    auto& contact = dynamic_cast<ZvContactRecord&>(*fromPc);
    contact.s1 = "mob";
    contact.s3 = "Smith";
    contact.s4 = "Alice";
    contact.s5 = "Alice";
    contact.s8 = "b";
    contact.idNumber = 7;
    contact.icq = "123";
    contact.KeepStoredFields();
    EXPECT_EQ(contact.Key(), list.At(0).Key());
    EXPECT_TRUE(contact.Equals(list.At(0)));
}

TEST(ContactRecordTest, TextsAreWrittenWithinTheirFields) {
    for (uint8_t version : {0, 1}) {
        ZvPhonebookFile list(version);
        auto contact = std::make_unique<ZvContactRecord>(version);
        contact->s3 = std::string(300, 'a');
        contact->s5 = std::string(50, 'b');
        contact->s8 = std::string(41, 'c');
        list.Append(std::move(contact));
        MemoryWriter out;
        ASSERT_TRUE(list.WriteFile(out));
        ZvPhonebookFile again;
        MemoryReader in(out.Bytes());
        ASSERT_TRUE(again.ReadFile(in));
        ASSERT_EQ(again.Count(), 1u);
        EXPECT_EQ(ContactAt(again, 0).s3, std::string(14, 'a'));
        EXPECT_EQ(ContactAt(again, 0).s5, std::string(19, 'b'));
        EXPECT_EQ(ContactAt(again, 0).s8, std::string(39, 'c'));
    }
}

TEST(ContactRecordTest, KeysAndEquality) {
    ZvContactRecord a(1), b(1);
    a.s3 = "Smith";
    a.s4 = "Alice";
    a.s1 = "Home";
    b = a;
    b.s3 = "SMITH";
    EXPECT_EQ(a.Key(), "SMITH ALICE HOME");
    EXPECT_EQ(a.Key(), b.Key());
    EXPECT_FALSE(a.Equals(b)); // texts compare case-sensitively
    b.s3 = " Smith";
    EXPECT_NE(a.Key(), b.Key()); // nothing is trimmed
    // The three numbers without a text form are one value (written "UNKNOWN", read back 0xFFFFFFFE).
    b = a;
    for (uint32_t x : {0u, 0xFFFFFFFFu, 0xFFFFFFFEu}) {
        for (uint32_t y : {0u, 0xFFFFFFFFu, 0xFFFFFFFEu}) {
            a.idNumber = x;
            b.idNumber = y;
            EXPECT_TRUE(a.Equals(b));
        }
    }
    b.idNumber = 5;
    EXPECT_FALSE(a.Equals(b));
    // A PC record is brought to what the file keeps: cut, first letter of s1 upper-cased.
    ZvContactRecord pc(1);
    pc.s1 = "mobile phone";
    pc.s8 = std::string(60, 'x');
    pc.KeepStoredFields();
    EXPECT_EQ(pc.s1, "Mobile ");
    EXPECT_EQ(pc.s8.size(), 39u);
}

// Upper-casing by the rules of code page 1252, as the PC's ANSI code page gives it.
void Cp1252UpperCase(std::string& text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7))
            c = static_cast<char>(byte - 0x20);
    }
}

// The keys and the first letter of s1 are upper-cased by the function the list is given, so that
// "\xD6lfen" and "\xF6lfen" (Oelfen with an upper and a lower umlaut in code page 1252) are one key.
TEST(ContactRecordTest, KeysUpperCaseByTheGivenCodePageRules) {
    ZvPhonebookFile list(1);
    list.SetUpperCase(Cp1252UpperCase);
    auto upper = list.NewRecord(), lower = list.NewList()->NewRecord();
    auto& a = dynamic_cast<ZvContactRecord&>(*upper);
    auto& b = dynamic_cast<ZvContactRecord&>(*lower);
    a.s3 = "\xD6lfen";
    b.s3 = "\xF6lfen";
    EXPECT_EQ(a.Key(), b.Key());
    EXPECT_EQ(a.Key(), "\xD6LFEN  ");
    b.s1 = "\xE9t\xE9";
    b.KeepStoredFields();
    EXPECT_EQ(b.s1, "\xC9t\xE9");
    EXPECT_EQ(b.Clone()->Key(), b.Key());
    ZvOrganizerFile tasks;
    tasks.SetUpperCase(Cp1252UpperCase);
    auto task = tasks.NewRecord();
    dynamic_cast<ZvTaskRecord&>(*task).text = "\xF6l";
    EXPECT_EQ(task->Key(), "\xD6L");
    // Without a code page's rules only a to z change.
    ZvContactRecord plain(1);
    plain.s3 = "\xF6lfen";
    EXPECT_EQ(plain.Key(), "\xF6LFEN  ");
}

TEST(OrganizerFileTest, DamagedRecordsEndTheListAndDeletedOnesDisappear) {
    const uint32_t day2 = 86400;
    const Bytes file = Concat({{7},
                               Task(0, day2, "first"),
                               Task(1, 0, "deleted"),
                               Task(0, 0, "second"),
                               {0, 1, 2, 0, 0}}); // ends within the first nine bytes of a record
    ZvOrganizerFile list;
    MemoryReader in(file);
    ASSERT_TRUE(list.ReadFile(in));
    EXPECT_TRUE(list.Loaded());
    EXPECT_EQ(list.headerFlag, 1);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(TaskAt(list, 0).text, "first");
    EXPECT_EQ(TaskAt(list, 0).date, (DeviceDate{0, 1, 2, 0, 0, 0, true}));
    EXPECT_EQ(TaskAt(list, 0).priority, 1);
    EXPECT_EQ(TaskAt(list, 0).reminder, 2);
    EXPECT_FALSE(TaskAt(list, 1).date.valid);
    EXPECT_EQ(Written(list), Concat({{1}, Task(0, day2, "first"), Task(0, 0xFFFFFFFFu, "second")}));

    ZvOrganizerFile empty;
    MemoryReader none(Bytes{});
    EXPECT_FALSE(empty.ReadFile(none));
}

TEST(OrganizerFileTest, TextLengthsAreBoundedBothWays) {
    // A stored length of 121 ends the list at that record.
    {
        const Bytes file = Concat({{0}, Task(0, 0, "kept"), Task(0, 0, std::string(120, 'y'), 121)});
        ZvOrganizerFile list;
        MemoryReader in(file);
        ASSERT_TRUE(list.ReadFile(in));
        EXPECT_EQ(list.Count(), 1u);
    }
    // A text of 120 bytes without a zero is read within its 120-byte buffer and no further, and
    // keeps the 119 characters the field holds.
    {
        Bytes record = Task(0, 0, std::string(120, 'z'), 120);
        record.back() = 'q'; // the byte after the 120 counted ones is not part of the text
        const Bytes file = Concat({{0}, record});
        ZvOrganizerFile list;
        MemoryReader in(file);
        ASSERT_TRUE(list.ReadFile(in));
        ASSERT_EQ(list.Count(), 1u);
        EXPECT_EQ(TaskAt(list, 0).text, std::string(119, 'z'));
    }
    // A text cut short by the end of the file keeps the characters that were read.
    {
        Bytes file = Concat({{0}, Task(0, 0, "truncated text")});
        file.resize(file.size() - 6);
        ZvOrganizerFile list;
        MemoryReader in(file);
        ASSERT_TRUE(list.ReadFile(in));
        ASSERT_EQ(list.Count(), 1u);
        EXPECT_EQ(TaskAt(list, 0).text, "truncated");
    }
    // A text of 200 characters is written as its first 119 with n = 120.
    {
        ZvOrganizerFile list;
        auto task = std::make_unique<ZvTaskRecord>();
        task->text = std::string(200, 'w');
        list.Append(std::move(task));
        const Bytes out = Written(list);
        ASSERT_EQ(out.size(), 1u + 9 + 120);
        EXPECT_EQ(out[8], 0);
        EXPECT_EQ(out[9], 120);
        EXPECT_EQ(out.back(), 0);
    }
}

TEST(RecordFilesTest, ReadAndWriteThroughFilesOnDisk) {
    const std::string path = ::testing::TempDir() + "pimrecords_phonebook.dat";
    ZvPhonebookFile list;
    auto contact = std::make_unique<ZvContactRecord>(1);
    contact->s3 = "Smith";
    contact->idNumber = DecodeDeviceId("EVYM36A");
    list.Append(std::move(contact));
    ASSERT_TRUE(list.WriteFile(path));
    ZvPhonebookFile again;
    ASSERT_TRUE(again.ReadFile(path));
    ASSERT_EQ(again.Count(), 1u);
    EXPECT_TRUE(again.At(0).Equals(list.At(0)));
    std::remove(path.c_str());
    EXPECT_FALSE(again.ReadFile(path));
    EXPECT_EQ(again.Count(), 0u);
    EXPECT_FALSE(list.WriteFile(::testing::TempDir() + "no-such-folder/x.dat"));
}

} // namespace
} // namespace pimsync
