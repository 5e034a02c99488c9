// The records and record lists of the device's phone book ("phonebook.dat") and task list
// ("organizer.dat"), with their file codecs, merge keys and equality. Plain data: the PC side of a
// record (the desktop mail application's items) is adapted by the synchronizer.
#pragma once
#include "ByteIo.h"
#include "DeviceDate.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pimsync {

// Upper-cases 8-bit text in place by the rules of the PC's ANSI code page. The records are given
// it by their list; the default changes only the letters a to z.
using UpperCaser = void (*)(std::string& text);
void AsciiUpperCase(std::string& text);

// Merge state of a record; never stored in a file.
enum RecordState { kDeviceOnly = 0, kSameOnPc = 1, kNewFromPc = 2, kChanged = 3 };

class ZvSyncRecord {
  public:
    virtual ~ZvSyncRecord() = default;
    int state = kDeviceOnly;
    UpperCaser upperCase = AsciiUpperCase;

    // The merge key (upper-cased).
    virtual std::string Key() const = 0;
    virtual bool Write(ByteWriter& out) const = 0;
    virtual bool Read(ByteReader& in) = 0;
    virtual std::unique_ptr<ZvSyncRecord> Clone() const = 0;
    virtual bool Equals(const ZvSyncRecord& other) const = 0;
    // Brings a record filled from the PC to what the device file keeps of it: texts cut to their
    // fields, and the same normalisation as reading the file applies. A record compared with a
    // device record must have been through this, or it would differ in every session.
    virtual void KeepStoredFields() = 0;
    // The key holds too little to tell several PC items apart (a version 0 contact keys on its
    // last name alone): a key held by several PC items then matches none of its device records.
    virtual bool PartialKey() const { return false; }
};

// The most characters each contact text keeps (one less than its width in the device record).
struct ContactWidths {
    static constexpr size_t s1 = 7, s3 = 14, s4 = 14, s5 = 19, s6 = 29, s7 = 29, s8 = 39, icq = 9;
};

class ZvContactRecord : public ZvSyncRecord {
  public:
    explicit ZvContactRecord(uint8_t version) : version(version) {}
    uint8_t version; // 0 or 1, from the list
    std::string s1;
    uint32_t idNumber = 0;
    std::string s3, s4, s5, s6, s7, s8, icq;

    std::string Key() const override;
    bool Write(ByteWriter& out) const override;
    bool Read(ByteReader& in) override;
    std::unique_ptr<ZvSyncRecord> Clone() const override;
    bool Equals(const ZvSyncRecord& other) const override;
    void KeepStoredFields() override;
    bool PartialKey() const override { return version == 0; }
};

class ZvTaskRecord : public ZvSyncRecord {
  public:
    static constexpr size_t kMaxStoredLength = 120; // text bytes with the terminating zero
    static constexpr size_t kMaxTextLength = kMaxStoredLength - 1;
    uint8_t deleted = 0;
    uint8_t priority = 3; // 0 low, 1 normal, 2 high, 3 none
    uint8_t reminder = 0; // 0 off, 1 on, 2 five minutes, 3 one hour, 4 one day
    DeviceDate date;
    std::string text;

    std::string Key() const override;
    bool Write(ByteWriter& out) const override;
    bool Read(ByteReader& in) override;
    std::unique_ptr<ZvSyncRecord> Clone() const override;
    bool Equals(const ZvSyncRecord& other) const override;
    void KeepStoredFields() override;
};

// The records of one device file, in file order, owned by the list.
class ZvSyncRecordList {
  public:
    virtual ~ZvSyncRecordList() = default;

    virtual bool WriteFile(ByteWriter& out) const = 0;
    // Replaces the list by the file's records; the loaded flag is set only after a complete read.
    virtual bool ReadFile(ByteReader& in) = 0;
    // A record of the list's kind and version.
    virtual std::unique_ptr<ZvSyncRecord> NewRecord() const = 0;
    // An empty list of the same kind and version.
    virtual std::unique_ptr<ZvSyncRecordList> NewList() const = 0;

    bool ReadFile(const std::string& path);
    // Creates the file anew; on failure it may hold part of the list.
    bool WriteFile(const std::string& path) const;

    size_t Count() const { return records_.size(); }
    ZvSyncRecord& At(size_t index) { return *records_[index]; }
    const ZvSyncRecord& At(size_t index) const { return *records_[index]; }
    void Reserve(size_t count) { records_.reserve(count); }
    void Append(std::unique_ptr<ZvSyncRecord> record) { records_.push_back(std::move(record)); }
    void Replace(size_t index, std::unique_ptr<ZvSyncRecord> record) { records_[index] = std::move(record); }
    void Clear() {
        records_.clear();
        loaded_ = false;
    }
    bool Loaded() const { return loaded_; }
    // The upper-casing of the keys of the records the list makes (and of the lists it makes).
    void SetUpperCase(UpperCaser upperCase) { upperCase_ = upperCase; }
    UpperCaser UpperCase() const { return upperCase_; }

  protected:
    void SetLoaded() { loaded_ = true; }
    // A record made by the list: it upper-cases as the list does.
    template <class Record, class... Args> std::unique_ptr<ZvSyncRecord> MakeRecord(Args... args) const {
        auto record = std::make_unique<Record>(args...);
        record->upperCase = upperCase_;
        return record;
    }

  private:
    std::vector<std::unique_ptr<ZvSyncRecord>> records_;
    bool loaded_ = false;
    UpperCaser upperCase_ = AsciiUpperCase;
};

class ZvPhonebookFile : public ZvSyncRecordList {
  public:
    explicit ZvPhonebookFile(uint8_t version = 1) : version_(version) {}
    uint8_t Version() const { return version_; }
    void SetVersion(uint8_t version) { version_ = version; }

    using ZvSyncRecordList::ReadFile;
    using ZvSyncRecordList::WriteFile;
    bool WriteFile(ByteWriter& out) const override;
    bool ReadFile(ByteReader& in) override;
    std::unique_ptr<ZvSyncRecord> NewRecord() const override;
    std::unique_ptr<ZvSyncRecordList> NewList() const override;

  private:
    uint8_t version_;
};

class ZvOrganizerFile : public ZvSyncRecordList {
  public:
    uint8_t headerFlag = 0;

    using ZvSyncRecordList::ReadFile;
    using ZvSyncRecordList::WriteFile;
    bool WriteFile(ByteWriter& out) const override;
    bool ReadFile(ByteReader& in) override;
    std::unique_ptr<ZvSyncRecord> NewRecord() const override;
    std::unique_ptr<ZvSyncRecordList> NewList() const override;
};

} // namespace pimsync
