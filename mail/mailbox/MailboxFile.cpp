#include "MailboxFile.h"
#include "Crc32.h"
#include "MailAddress.h"
#include <algorithm>

namespace tv::mail {
namespace {

constexpr uint8_t kSubjectType = 3;
constexpr uint8_t kMessageIdType = 5;
constexpr size_t kRecordHeaderSize = 18;

uint32_t Read32(std::span<const uint8_t> bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
           bytes[at + 3];
}

uint16_t Read16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

// A field as a zero-terminated string holds it: up to its first zero byte, at most `limit`.
std::string Field(const std::string& text, size_t limit = std::string::npos) {
    return text.substr(0, std::min(text.find('\0'), limit));
}

void AppendString(std::vector<uint8_t>& content, std::string_view text) {
    content.insert(content.end(), text.begin(), text.end());
    content.push_back(0);
}

// The address as stored (kind byte and text); false for an address of no known kind. A device
// address reads back with "@" in front, so the letter keeps that form.
bool AppendAddress(std::vector<uint8_t>& content, std::string& address) {
    AddressKind kind = ClassifyAddress(address);
    if (kind == AddressKind::None)
        return false;
    content.push_back(static_cast<uint8_t>(kind));
    if (kind == AddressKind::Device) {
        address[0] = '@';
        AppendString(content, std::string_view(address).substr(1));
    } else {
        AppendString(content, address);
    }
    return true;
}

// Reads a zero-terminated string at `pos` of the content; false when it has no end.
bool TakeString(std::span<const uint8_t> content, size_t& pos, std::string& text) {
    size_t end = pos;
    while (end < content.size() && content[end])
        ++end;
    if (end == content.size())
        return false;
    text.assign(reinterpret_cast<const char*>(content.data()) + pos, end - pos);
    pos = end + 1;
    return true;
}

// The letter of a record's content, as the device reads it back.
bool ParseContent(std::span<const uint8_t> content, MailboxLetter& letter) {
    size_t pos = 0;
    int addresses = 0;
    while (pos < content.size() && content[pos] > 0 && content[pos] < 32) {
        uint8_t type = content[pos++];
        std::string text;
        if (!TakeString(content, pos, text))
            return false;
        if (type == static_cast<uint8_t>(AddressKind::Device) || type == static_cast<uint8_t>(AddressKind::Internet) ||
            type == static_cast<uint8_t>(AddressKind::Icq)) {
            if (type == static_cast<uint8_t>(AddressKind::Device))
                text.insert(0, "@");
            if (addresses == 0)
                letter.sender = std::move(text);
            else if (addresses == 1)
                letter.recipient = std::move(text);
            ++addresses;
        } else if (type == kSubjectType) {
            letter.subject = text.substr(0, kMailSubjectLimit);
        } else if (type == kMessageIdType) {
            letter.messageId = text.substr(0, kMailMessageIdLimit);
        }
    }
    std::string body;
    if (!TakeString(content, pos, body))
        return false;
    letter.body = body.substr(0, kMailBodyLimit);
    return true;
}

void SetReason(std::string* reason, std::string text) {
    if (reason)
        *reason = std::move(text);
}

} // namespace

std::optional<MailRecord> BuildMailRecord(MailboxLetter letter) {
    letter.sender = Field(letter.sender);
    letter.recipient = Field(letter.recipient);
    letter.messageId = Field(letter.messageId, kMailMessageIdLimit);
    letter.subject = Field(letter.subject, kMailSubjectLimit);
    // A body beginning with a control character would read back as a typed string.
    std::string body = Field(letter.body);
    size_t start = 0;
    while (start < body.size() && static_cast<uint8_t>(body[start]) < 32)
        ++start;
    letter.body = body.substr(start, kMailBodyLimit);

    MailRecord record;
    std::vector<uint8_t>& content = record.content;
    if (!AppendAddress(content, letter.sender) || !AppendAddress(content, letter.recipient))
        return std::nullopt;
    content.push_back(kMessageIdType);
    AppendString(content, letter.messageId);
    content.push_back(kSubjectType);
    AppendString(content, letter.subject);
    AppendString(content, letter.body);
    if (content.size() > kMailContentMaxLength)
        return std::nullopt;
    record.crc = tv::portable::Crc32(content);
    record.recipientNumber = DeviceNumberFromAddress(letter.recipient);
    letter.stamp &= 0xFFFFFFu;
    record.letter = std::move(letter);
    return record;
}

std::optional<MailboxFile> MailboxFile::Parse(std::span<const uint8_t> bytes, std::string* reason) {
    if (bytes.size() < kMailboxHeaderSize)
        return SetReason(reason, "short header"), std::nullopt;
    if (bytes[1] != 1)
        return SetReason(reason, "unknown version " + std::to_string(bytes[1])), std::nullopt;
    if (bytes.size() - kMailboxHeaderSize > kMailboxMaxCapacity)
        return SetReason(reason, "capacity above 65535"), std::nullopt;
    MailboxFile mailbox(bytes[0], Read32(bytes, 2), static_cast<uint16_t>(bytes.size() - kMailboxHeaderSize));
    const size_t count = Read16(bytes, 6);
    size_t at = kMailboxHeaderSize;
    for (size_t i = 0; i < count; ++i) {
        const std::string where = "record " + std::to_string(i + 1);
        if (bytes.size() - at < 2)
            return SetReason(reason, where + ": past the end"), std::nullopt;
        const size_t length = Read16(bytes, at);
        if (length % 2 || length <= kRecordHeaderSize || length > kMailRecordMaxLength || length > bytes.size() - at)
            return SetReason(reason, where + ": bad length " + std::to_string(length)), std::nullopt;
        MailboxLetter letter;
        const uint32_t state = Read32(bytes, at + 14);
        letter.status = static_cast<uint8_t>(state >> 24);
        letter.stamp = state & 0xFFFFFFu;
        if (!ParseContent(bytes.subspan(at + kRecordHeaderSize, length - kRecordHeaderSize), letter))
            return SetReason(reason, where + ": unreadable content"), std::nullopt;
        std::optional<MailRecord> record = BuildMailRecord(std::move(letter));
        if (!record)
            return SetReason(reason, where + ": unbuildable content"), std::nullopt;
        if (mailbox.AddRecord(std::move(*record)) == MailboxAdd::Full)
            return SetReason(reason, where + ": does not fit"), std::nullopt;
        at += length;
    }
    return mailbox;
}

uint16_t MailboxFile::UsedBytes() const {
    uint16_t used = 0;
    for (const MailRecord& record : records_)
        used = static_cast<uint16_t>(used + record.Length());
    return used;
}

uint32_t MailboxFile::MatchKey(const MailRecord& record) const {
    if (!IsMadeMessageId(record.letter.messageId, owner_))
        return record.crc;
    MailboxLetter letter = record.letter;
    letter.messageId.clear();
    const std::optional<MailRecord> withoutId = BuildMailRecord(std::move(letter));
    return withoutId ? withoutId->crc : record.crc;
}

MailboxAdd MailboxFile::Add(const MailboxLetter& letter) {
    std::optional<MailRecord> record = BuildMailRecord(letter);
    if (!record)
        return MailboxAdd::Unbuildable;
    if (std::find(matchKeys_.begin(), matchKeys_.end(), MatchKey(*record)) != matchKeys_.end())
        return MailboxAdd::Duplicate;
    return AddRecord(std::move(*record));
}

MailboxAdd MailboxFile::AddRecord(MailRecord record) {
    for (const MailRecord& held : records_)
        if (held.crc == record.crc)
            return MailboxAdd::Duplicate;
    if (records_.size() >= kMailboxMaxLetters || capacity_ == 0 ||
        static_cast<uint16_t>(capacity_ - UsedBytes()) < record.Length())
        return MailboxAdd::Full;
    matchKeys_.push_back(MatchKey(record));
    records_.push_back(std::move(record));
    return MailboxAdd::Added;
}

void MailboxFile::MarkSent(size_t index, uint32_t stamp) {
    records_[index].letter.status = kMailSent;
    records_[index].letter.stamp = stamp & 0xFFFFFFu;
}

std::vector<uint8_t> MailboxFile::Serialize() const {
    const uint16_t used = UsedBytes();
    std::vector<uint8_t> out(kMailboxHeaderSize + std::max<size_t>(capacity_, used), 0);
    out[0] = flags_;
    out[1] = 1;
    Put32(out, 2, owner_);
    Put16(out, 6, static_cast<uint16_t>(records_.size()));
    Put32(out, 8, used);
    size_t at = kMailboxHeaderSize;
    uint32_t index = 1;
    for (const MailRecord& record : records_) {
        Put16(out, at, static_cast<uint16_t>(record.Length()));
        Put32(out, at + 2, index++);
        Put32(out, at + 6, record.crc);
        Put32(out, at + 10, record.recipientNumber);
        Put32(out, at + 14, (uint32_t{record.letter.status} << 24) | (record.letter.stamp & 0xFFFFFFu));
        std::copy(record.content.begin(), record.content.end(), out.begin() + static_cast<long>(at + kRecordHeaderSize));
        at += record.Length();
    }
    return out;
}

} // namespace tv::mail
