#include "SyncRecords.h"

#include <algorithm>
#include <cstring>

#include "DeviceId.h"

namespace pimsync {
namespace {

void CutTo(std::string& text, size_t most) {
    if (text.size() > most)
        text.resize(most);
}

bool ReadText(ByteReader& in, std::string& field, size_t most) {
    if (!ReadByteString(in, field))
        return false;
    CutTo(field, most);
    return true;
}

// Reads exactly length bytes as a text, keeping at most `most` characters.
bool ReadFixedText(ByteReader& in, uint8_t length, std::string& field, size_t most) {
    char buffer[256];
    if (in.Read(buffer, length) != length)
        return false;
    field.assign(buffer, length);
    CutTo(field, most);
    return true;
}

// Upper-cases the first character (a character that is not a letter stays as it is).
void UpperFirstLetter(std::string& text, UpperCaser upperCase) {
    if (text.empty())
        return;
    std::string first(1, text[0]);
    upperCase(first);
    if (first.size() == 1)
        text[0] = first[0];
}

UniqueFile OpenFile(const std::string& path, const char* mode) {
    return UniqueFile(std::fopen(path.c_str(), mode));
}

} // namespace

void AsciiUpperCase(std::string& text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
}

// --- contacts ---

std::string ZvContactRecord::Key() const {
    std::string key = s3 + " " + s4 + " " + s1;
    upperCase(key);
    return key;
}

bool ZvContactRecord::Write(ByteWriter& out) const {
    // Every text goes out within its field, whatever was put into the record.
    using W = ContactWidths;
    auto fit = [](const std::string& text, size_t most) { return text.substr(0, most); };
    if (version == 0) {
        const std::string texts[3] = {fit(s3, W::s3), fit(s5, W::s5), fit(s8, W::s8)};
        for (const std::string& text : texts) {
            if (!WriteU8(out, static_cast<uint8_t>(text.size())))
                return false;
        }
        for (const std::string& text : texts) {
            if (!out.Write(text.data(), text.size()))
                return false;
        }
        return true;
    }
    return WriteByteString(out, fit(s1, W::s1)) && WriteU32BE(out, idNumber) &&
           WriteByteString(out, fit(s3, W::s3)) && WriteByteString(out, fit(s4, W::s4)) &&
           WriteByteString(out, fit(s5, W::s5)) && WriteByteString(out, fit(s6, W::s6)) &&
           WriteByteString(out, fit(s7, W::s7)) && WriteByteString(out, fit(s8, W::s8)) &&
           WriteByteString(out, fit(icq, W::icq));
}

bool ZvContactRecord::Read(ByteReader& in) {
    using W = ContactWidths;
    if (version == 0) {
        uint8_t lengths[3];
        return ReadU8(in, lengths[0]) && ReadU8(in, lengths[1]) && ReadU8(in, lengths[2]) &&
               ReadFixedText(in, lengths[0], s3, W::s3) && ReadFixedText(in, lengths[1], s5, W::s5) &&
               ReadFixedText(in, lengths[2], s8, W::s8);
    }
    if (!ReadText(in, s1, W::s1) || !ReadU32BE(in, idNumber) || !ReadText(in, s3, W::s3) ||
        !ReadText(in, s4, W::s4) || !ReadText(in, s5, W::s5) || !ReadText(in, s6, W::s6) ||
        !ReadText(in, s7, W::s7) || !ReadText(in, s8, W::s8) || !ReadText(in, icq, W::icq))
        return false;
    UpperFirstLetter(s1, upperCase);
    return true;
}

std::unique_ptr<ZvSyncRecord> ZvContactRecord::Clone() const {
    return std::make_unique<ZvContactRecord>(*this);
}

bool ZvContactRecord::Equals(const ZvSyncRecord& other) const {
    const auto* that = dynamic_cast<const ZvContactRecord*>(&other);
    if (!that)
        return false;
    // The numbers without a text form are one value: 0 is written to the PC as "UNKNOWN", which
    // reads back as 0xFFFFFFFE.
    const bool sameId = idNumber == that->idNumber || (IsUnknownId(idNumber) && IsUnknownId(that->idNumber));
    return sameId && s1 == that->s1 && s3 == that->s3 && s4 == that->s4 && s5 == that->s5 && s6 == that->s6 &&
           s7 == that->s7 && s8 == that->s8 && icq == that->icq;
}

void ZvContactRecord::KeepStoredFields() {
    using W = ContactWidths;
    if (version == 0) {
        // A version 0 phone book stores only these three texts.
        s1.clear();
        s4.clear();
        s6.clear();
        s7.clear();
        icq.clear();
        idNumber = 0;
    }
    CutTo(s1, W::s1);
    CutTo(s3, W::s3);
    CutTo(s4, W::s4);
    CutTo(s5, W::s5);
    CutTo(s6, W::s6);
    CutTo(s7, W::s7);
    CutTo(s8, W::s8);
    CutTo(icq, W::icq);
    if (version != 0)
        UpperFirstLetter(s1, upperCase);
}

// --- tasks ---

std::string ZvTaskRecord::Key() const {
    std::string key = text;
    upperCase(key);
    return key;
}

bool ZvTaskRecord::Write(ByteWriter& out) const {
    std::string stored = text.substr(0, std::min(text.find('\0'), kMaxTextLength));
    const auto length = static_cast<uint16_t>(stored.size() + 1);
    return WriteU8(out, deleted) && WriteU8(out, priority) && WriteU8(out, reminder) &&
           WriteU32BE(out, DateToDeviceTime(date)) && WriteU16BE(out, length) &&
           out.Write(stored.c_str(), length);
}

bool ZvTaskRecord::Read(ByteReader& in) {
    text.clear();
    uint32_t seconds = 0;
    uint16_t length = 0;
    if (!ReadU8(in, deleted) || !ReadU8(in, priority) || !ReadU8(in, reminder) || !ReadU32BE(in, seconds) ||
        !ReadU16BE(in, length) || length > kMaxStoredLength)
        return false;
    if (length != 0) {
        // At most the buffer's size is read; the text ends at the first zero among the bytes read,
        // or with them when the file ends early. A text stored without its zero keeps what the field
        // holds, as it would be written back.
        char buffer[kMaxStoredLength];
        const size_t got = in.Read(buffer, length);
        const void* zero = std::memchr(buffer, 0, got);
        text.assign(buffer, zero ? static_cast<const char*>(zero) - buffer : got);
        CutTo(text, kMaxTextLength);
    }
    date = DeviceTimeToDate(seconds);
    return true;
}

std::unique_ptr<ZvSyncRecord> ZvTaskRecord::Clone() const {
    return std::make_unique<ZvTaskRecord>(*this);
}

bool ZvTaskRecord::Equals(const ZvSyncRecord& other) const {
    const auto* that = dynamic_cast<const ZvTaskRecord*>(&other);
    return that && priority == that->priority && reminder == that->reminder && date == that->date &&
           deleted == that->deleted && text == that->text;
}

void ZvTaskRecord::KeepStoredFields() {
    text = text.substr(0, std::min(text.find('\0'), kMaxTextLength));
    date = DeviceTimeToDate(DateToDeviceTime(date));
}

// --- lists ---

bool ZvSyncRecordList::ReadFile(const std::string& path) {
    Clear();
    UniqueFile file = OpenFile(path, "rb");
    if (!file)
        return false;
    // The files are small: read whole, then decoded from memory.
    std::vector<uint8_t> bytes;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(file.get());
        if (size > 0)
            bytes.reserve(static_cast<size_t>(size));
        std::rewind(file.get());
    }
    uint8_t chunk[16384];
    for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file.get()))
        return false;
    MemoryReader in(bytes);
    return ReadFile(in);
}

bool ZvSyncRecordList::WriteFile(const std::string& path) const {
    UniqueFile file = OpenFile(path, "w+b");
    if (!file)
        return false;
    FileWriter out(file.get());
    const bool written = WriteFile(out);
    return std::fclose(file.release()) == 0 && written;
}

bool ZvPhonebookFile::ReadFile(ByteReader& in) {
    Clear();
    uint8_t first = 0, second = 0;
    if (!ReadU8(in, first) || !ReadU8(in, second))
        return false;
    uint16_t count = 0;
    if (first >= 0x23) {
        version_ = 1;
        if (first != '#' || second != 1 || !ReadU16BE(in, count))
            return false;
    } else {
        version_ = 0;
        count = static_cast<uint16_t>(first << 8 | second);
    }
    Reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        auto record = NewRecord();
        if (!record->Read(in))
            return false;
        Append(std::move(record));
    }
    SetLoaded();
    return true;
}

bool ZvPhonebookFile::WriteFile(ByteWriter& out) const {
    if (version_ > 1 || Count() > 0xFFFF)
        return false;
    if (version_ == 1 && (!WriteU8(out, '#') || !WriteU8(out, 1)))
        return false;
    if (!WriteU16BE(out, static_cast<uint16_t>(Count())))
        return false;
    for (size_t i = 0; i < Count(); ++i) {
        if (!At(i).Write(out))
            return false;
    }
    return true;
}

std::unique_ptr<ZvSyncRecord> ZvPhonebookFile::NewRecord() const {
    return MakeRecord<ZvContactRecord>(version_);
}

std::unique_ptr<ZvSyncRecordList> ZvPhonebookFile::NewList() const {
    auto list = std::make_unique<ZvPhonebookFile>(version_);
    list->SetUpperCase(UpperCase());
    return list;
}

bool ZvOrganizerFile::ReadFile(ByteReader& in) {
    Clear();
    uint8_t header = 0;
    if (!ReadU8(in, header))
        return false;
    headerFlag = header != 0 ? 1 : 0;
    for (;;) {
        auto record = NewRecord();
        // A damaged or short record ends the list.
        if (!record->Read(in))
            break;
        if (static_cast<ZvTaskRecord&>(*record).deleted == 0)
            Append(std::move(record));
    }
    SetLoaded();
    return true;
}

bool ZvOrganizerFile::WriteFile(ByteWriter& out) const {
    if (!WriteU8(out, headerFlag))
        return false;
    for (size_t i = 0; i < Count(); ++i) {
        if (!At(i).Write(out))
            return false;
    }
    return true;
}

std::unique_ptr<ZvSyncRecord> ZvOrganizerFile::NewRecord() const {
    return MakeRecord<ZvTaskRecord>();
}

std::unique_ptr<ZvSyncRecordList> ZvOrganizerFile::NewList() const {
    auto list = std::make_unique<ZvOrganizerFile>();
    list->headerFlag = headerFlag;
    list->SetUpperCase(UpperCase());
    return list;
}

} // namespace pimsync
