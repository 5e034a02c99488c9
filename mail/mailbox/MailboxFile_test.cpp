#include "MailboxFile.h"
#include "Crc32.h"
#include "MailAddress.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

MailboxLetter Letter(std::string body, uint8_t status = kMailReceived) {
    MailboxLetter letter;
    letter.status = status;
    letter.sender = "someone@example.org";
    letter.recipient = "@AAAAAAB";
    letter.messageId = "AB,B";
    letter.subject = "Hello";
    letter.body = std::move(body);
    return letter;
}

std::vector<uint8_t> EmptyFile(size_t size, uint8_t flags = 0) {
    std::vector<uint8_t> bytes(size, 0);
    bytes[0] = flags;
    bytes[1] = 1;
    return bytes;
}

TEST(MailboxFileTest, RecordLayoutAndRoundTrip) {
    MailboxFile mailbox(0, 0x01020304, 2000 - 12);
    ASSERT_EQ(mailbox.Add(Letter("first")), MailboxAdd::Added);
    ASSERT_EQ(mailbox.Add(Letter("second", kMailToSend)), MailboxAdd::Added);
    mailbox.MarkSent(1, 0x12345678);
    std::vector<uint8_t> bytes = mailbox.Serialize();
    ASSERT_EQ(bytes.size(), 2000u);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[5], 4);
    EXPECT_EQ(bytes[7], 2);
    const size_t total = (bytes[10] << 8) | bytes[11];
    EXPECT_EQ(total, mailbox.UsedBytes());
    // First record: even length, index 1, the checksum of its content, the recipient's number.
    const size_t length = (bytes[12] << 8) | bytes[13];
    EXPECT_EQ(length % 2, 0u);
    EXPECT_EQ(bytes[17], 1);
    const std::span<const uint8_t> content(bytes.data() + 30, length - 18);
    size_t contentEnd = content.size();
    while (contentEnd > 1 && content[contentEnd - 1] == 0 && content[contentEnd - 2] == 0)
        --contentEnd;
    EXPECT_EQ(((bytes[18] << 24) | (bytes[19] << 16) | (bytes[20] << 8) | bytes[21]),
              static_cast<int>(tv::portable::Crc32(content.first(contentEnd))));
    EXPECT_EQ(bytes[25], 1); // recipient @AAAAAAB
    EXPECT_EQ(bytes[26], kMailReceived);
    // Second record: sent, stamp kept to 24 bits.
    const size_t second = 12 + length;
    EXPECT_EQ(bytes[second + 5], 2);
    EXPECT_EQ(bytes[second + 14], kMailSent);
    EXPECT_EQ(bytes[second + 15], 0x34);
    EXPECT_EQ(bytes.back(), 0);

    std::string reason;
    std::optional<MailboxFile> read = MailboxFile::Parse(bytes, &reason);
    ASSERT_TRUE(read) << reason;
    ASSERT_EQ(read->Count(), 2u);
    EXPECT_EQ(read->Letter(0), Letter("first"));
    EXPECT_EQ(read->Letter(1).status, kMailSent);
    EXPECT_EQ(read->Letter(1).stamp, 0x345678u);
    EXPECT_EQ(read->Serialize(), bytes);
}

TEST(MailboxFileTest, RefusesFilesItCannotWriteBackSoundly) {
    std::vector<uint8_t> file = EmptyFile(100);
    EXPECT_TRUE(MailboxFile::Parse(file));
    EXPECT_FALSE(MailboxFile::Parse(std::span<const uint8_t>(file).first(11)));
    file[1] = 2;
    EXPECT_FALSE(MailboxFile::Parse(file));
    EXPECT_TRUE(MailboxFile::Parse(EmptyFile(65547)));
    EXPECT_FALSE(MailboxFile::Parse(EmptyFile(65548)));

    MailboxFile mailbox(0, 1, 600);
    ASSERT_EQ(mailbox.Add(Letter("a")), MailboxAdd::Added);
    ASSERT_EQ(mailbox.Add(Letter("b")), MailboxAdd::Added);
    const std::vector<uint8_t> good = mailbox.Serialize();
    std::vector<uint8_t> bad = good;
    bad[13] |= 1; // odd record length
    EXPECT_FALSE(MailboxFile::Parse(bad));
    bad = good;
    bad[7] = 3; // one record more than the file holds
    EXPECT_FALSE(MailboxFile::Parse(bad));
    bad = good;
    bad[30] = 9; // unknown sender type: the record has no sender
    EXPECT_FALSE(MailboxFile::Parse(bad));
    bad = good;
    const size_t length = (good[12] << 8) | good[13];
    std::fill(bad.begin() + 30, bad.begin() + 12 + static_cast<long>(length), 'x'); // content without an end
    EXPECT_FALSE(MailboxFile::Parse(bad));
}

TEST(MailboxFileTest, KeepsTheFileSize) {
    std::vector<uint8_t> file = EmptyFile(2000, 1);
    std::optional<MailboxFile> mailbox = MailboxFile::Parse(file);
    ASSERT_TRUE(mailbox);
    while (mailbox->UsedBytes() < 300)
        ASSERT_EQ(mailbox->Add(Letter("letter " + std::to_string(mailbox->Count()))), MailboxAdd::Added);
    std::vector<uint8_t> written = mailbox->Serialize();
    EXPECT_EQ(written.size(), 2000u);
    EXPECT_EQ(written[0], 1);
    // A mailbox of no capacity accepts nothing and stays a bare header.
    MailboxFile none(0, 0, 0);
    EXPECT_EQ(none.Add(Letter("x")), MailboxAdd::Full);
    EXPECT_EQ(none.Serialize().size(), 12u);
}

TEST(MailboxFileTest, LimitsOfCountCapacityAndDuplicates) {
    MailboxFile mailbox(0, 0, 65535);
    // Records of 40 bytes: 1000 fit the capacity, the 1001st is refused by count.
    auto small = [](int i) {
        MailboxLetter letter = Letter(std::to_string(i));
        letter.sender = "a@b";
        letter.subject.clear();
        letter.messageId.clear();
        return letter;
    };
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(mailbox.Add(small(i)), MailboxAdd::Added) << i;
    EXPECT_EQ(mailbox.Add(small(1000)), MailboxAdd::Full);
    EXPECT_EQ(mailbox.Add(small(999)), MailboxAdd::Duplicate);
    std::optional<MailboxFile> read = MailboxFile::Parse(mailbox.Serialize());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Count(), 1000u);

    MailboxFile tight(0, 0, 170);
    EXPECT_EQ(tight.Add(Letter(std::string(40, 'a'))), MailboxAdd::Added);
    EXPECT_EQ(tight.Add(Letter(std::string(40, 'b'))), MailboxAdd::Full);
    EXPECT_EQ(tight.Add(Letter("c")), MailboxAdd::Added);
}

// A letter delivered again after its answer was lost comes with a new id when it had none of its
// own: the id made for it does not make it a new letter. Ids of the letters' own still tell
// letters apart, and so does an id made for another owner's mailbox.
TEST(MailboxFileTest, DuplicatesAreFoundPastTheIdsMadeForLettersWithoutOne) {
    const uint32_t owner = 67108865;
    MailboxFile mailbox(0, owner, 4000);
    MailboxLetter first = Letter("no id of its own");
    first.messageId = MakeMessageId(1800000000, owner);
    ASSERT_EQ(mailbox.Add(first), MailboxAdd::Added);
    MailboxLetter again = first;
    again.messageId = MakeMessageId(1800000007, owner);
    EXPECT_EQ(mailbox.Add(again), MailboxAdd::Duplicate);
    // The same after the file went to the device and came back.
    std::optional<MailboxFile> read = MailboxFile::Parse(mailbox.Serialize());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Add(again), MailboxAdd::Duplicate);
    EXPECT_EQ(read->Count(), 1u);

    MailboxLetter own = first;
    own.messageId = "<one@x>";
    EXPECT_EQ(mailbox.Add(own), MailboxAdd::Added);
    own.messageId = "<two@x>";
    EXPECT_EQ(mailbox.Add(own), MailboxAdd::Added);
    MailboxLetter foreign = first;
    foreign.messageId = MakeMessageId(1800000009, owner + 1);
    EXPECT_EQ(mailbox.Add(foreign), MailboxAdd::Added);
    MailboxLetter other = again;
    other.body = "another text";
    EXPECT_EQ(mailbox.Add(other), MailboxAdd::Added);
    EXPECT_EQ(mailbox.Count(), 5u);
}

TEST(MailboxFileTest, LettersAreBuiltWithinWhatReadsBack) {
    MailboxLetter letter = Letter("\r\n\t\x08\x01" + std::string(1500, 'b'));
    letter.subject = std::string(100, 's');
    letter.messageId = "0123456789ABCDEF";
    letter.sender = "\x85" "AAAAAAB";
    MailboxFile mailbox(0, 0, 4000);
    ASSERT_EQ(mailbox.Add(letter), MailboxAdd::Added);
    std::optional<MailboxFile> read = MailboxFile::Parse(mailbox.Serialize());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Letter(0), mailbox.Letter(0));
    EXPECT_EQ(read->Letter(0).body, std::string(1000, 'b'));
    EXPECT_EQ(read->Letter(0).subject, std::string(64, 's'));
    EXPECT_EQ(read->Letter(0).messageId, "0123456789ABC");
    EXPECT_EQ(read->Letter(0).sender, "@AAAAAAB");

    // Addresses of no known kind, and content above 1210 bytes, cannot be stored.
    letter = Letter("x");
    letter.sender = "Someone <a@b>";
    EXPECT_EQ(mailbox.Add(letter), MailboxAdd::Unbuildable);
    letter = Letter(std::string(1000, 'x'));
    letter.recipient = std::string(200, 'r') + "@example.org";
    EXPECT_EQ(mailbox.Add(letter), MailboxAdd::Unbuildable);
}

} // namespace
} // namespace tv::mail
