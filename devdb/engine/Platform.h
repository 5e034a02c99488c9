// What the engine needs of the operating system, behind small interfaces: files, the system-wide
// recursive locks, a change stamp per table file that every process sees, and the tick count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tv::devdb {

// One open file. Offsets are 64-bit; every call reports whether it did all it was asked.
class DbFile {
  public:
    virtual ~DbFile() = default;
    virtual bool Read(uint64_t offset, void* buffer, size_t size) = 0;
    virtual bool Write(uint64_t offset, const void* data, size_t size) = 0;
    virtual bool Size(uint64_t& size) = 0;
    virtual bool Resize(uint64_t size) = 0;
    // Forces the written data to the disk.
    virtual bool Flush() = 0;
};

enum class OpenOutcome { Opened, NotFound, AlreadyExists, Failed };

enum class OpenMode {
    Existing, // open for reading and writing; NotFound when there is no such file
    CreateNew // create; AlreadyExists when a file of that name is there
};

// A lock that other processes share, recursive for its owning thread.
class RecursiveLock {
  public:
    virtual ~RecursiveLock() = default;
    virtual void Acquire() = 0;
    virtual void Release() = 0;
};

class LockHold {
  public:
    explicit LockHold(RecursiveLock& lock) : lock_(lock) { lock_.Acquire(); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;
    ~LockHold() { lock_.Release(); }

  private:
    RecursiveLock& lock_;
};

// A counter tied to one table file and shared by every process that has the file open; a writer
// raises it under the table lock, so a process sees that its picture of the file is stale.
class ChangeStamp {
  public:
    virtual ~ChangeStamp() = default;
    virtual uint64_t Read() = 0;
    virtual void Raise() = 0;
};

class DbPlatform {
  public:
    virtual ~DbPlatform() = default;
    virtual OpenOutcome OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) = 0;
    virtual bool RemoveFile(const std::string& path) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // Puts the file `from` in the place of `to` in one step (replacing it), so that a reader opening
    // `to` finds either the old file or the new one whole.
    virtual bool MoveReplacing(const std::string& from, const std::string& to) = 0;
    // "TABLE_data_access": every table of every process.
    virtual RecursiveLock& TableLock() = 0;
    // "Event": the listener lists.
    virtual RecursiveLock& EventLock() = 0;
    virtual std::unique_ptr<ChangeStamp> OpenChangeStamp(const std::string& tablePath) = 0;
    virtual uint32_t TickCount() = 0;
};

} // namespace tv::devdb
