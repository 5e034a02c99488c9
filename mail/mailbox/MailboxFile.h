// The 1.0 device's mailbox file ("email.dat"): a 12-byte header (flags, version 1, owner number,
// letter count, record bytes) and the records, all integers big-endian. The file keeps its size:
// what follows the records up to the old end is the free capacity, written as zero bytes.
//
// Every letter is built within the limits the device reads back (subject 64 characters, message
// id 13, body 1000, content 1210 bytes), so a letter read from a file written here is the letter
// that was stored.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tv::mail {

// Status of a record (its high byte).
inline constexpr uint8_t kMailReceived = 1;
inline constexpr uint8_t kMailToSend = 4;
inline constexpr uint8_t kMailSent = 8;

inline constexpr size_t kMailboxHeaderSize = 12;
inline constexpr size_t kMailboxMaxLetters = 1000;
inline constexpr size_t kMailboxMaxCapacity = 65535;
inline constexpr size_t kMailRecordMaxLength = 1240;
inline constexpr size_t kMailContentMaxLength = 1210;
inline constexpr size_t kMailSubjectLimit = 64;
inline constexpr size_t kMailMessageIdLimit = 13;
inline constexpr size_t kMailBodyLimit = 1000;

struct MailboxLetter {
    uint8_t status = kMailReceived;
    uint32_t stamp = 0; // minutes since 2000-01-01 for a sent letter (24 bits)
    std::string sender;
    std::string recipient;
    std::string messageId;
    std::string subject;
    std::string body;
    bool operator==(const MailboxLetter&) const = default;
};

// One record as it is stored (without its index, which the writer sets).
struct MailRecord {
    MailboxLetter letter;
    std::vector<uint8_t> content;
    uint32_t crc = 0;
    uint32_t recipientNumber = 0;
    size_t Length() const { return (content.size() + 19) & ~size_t{1}; }
};

// The record of a letter, its fields cut to the read-back limits (subject, message id, body;
// leading control characters of the body dropped; each field ends at a zero byte). Nothing
// when an address is of no known kind or the content would exceed 1210 bytes.
std::optional<MailRecord> BuildMailRecord(MailboxLetter letter);

enum class MailboxAdd { Added, Duplicate, Full, Unbuildable };

class MailboxFile {
  public:
    // Reads a whole file. Fails (with a reason) for a short header, a version other than 1, a
    // capacity above 65535, or a record that cannot be read or held: such a file is never
    // written back.
    static std::optional<MailboxFile> Parse(std::span<const uint8_t> bytes, std::string* reason = nullptr);

    // A new, empty mailbox of the given capacity (record bytes).
    MailboxFile(uint8_t flags, uint32_t owner, uint16_t capacity) : flags_(flags), owner_(owner), capacity_(capacity) {}

    // Adds a letter: Duplicate when a letter of the same content checksum is held (nothing is
    // stored, the letter counts as added); Full when the count or the capacity does not allow
    // it; Unbuildable when the letter cannot be stored at all. A message id made for a letter
    // without one (MakeMessageId for this mailbox's owner) is left out of that checksum on both
    // sides: the same letter delivered again gets another one.
    MailboxAdd Add(const MailboxLetter& letter);

    // The whole file: header, records with their indexes, the unused capacity as zero bytes.
    std::vector<uint8_t> Serialize() const;

    uint8_t Flags() const { return flags_; }
    uint32_t Owner() const { return owner_; }
    uint16_t Capacity() const { return capacity_; }
    size_t Count() const { return records_.size(); }
    uint16_t UsedBytes() const;
    const MailboxLetter& Letter(size_t index) const { return records_[index].letter; }
    // Marks a letter to be sent as sent at `stamp` (minutes since 2000, kept to 24 bits).
    void MarkSent(size_t index, uint32_t stamp);

  private:
    MailboxAdd AddRecord(MailRecord record);
    // The checksum a record is matched by when a letter is added.
    uint32_t MatchKey(const MailRecord& record) const;

    uint8_t flags_;
    uint32_t owner_;
    uint16_t capacity_;
    std::vector<MailRecord> records_;
    std::vector<uint32_t> matchKeys_; // one per record
};

} // namespace tv::mail
