// Test support: the engine's platform over files held in memory (for unit and fuzz runs), with
// in-process locks and change stamps. Files can be seeded and inspected byte by byte.
#pragma once
#include "Platform.h"
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tv::devdb::testing {

class InProcessLock : public RecursiveLock {
  public:
    void Acquire() override { mutex_.lock(); }
    void Release() override { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
};

// Stamps shared by every platform object of the process, keyed by path.
std::unique_ptr<ChangeStamp> InProcessChangeStamp(const std::string& path);

class MemoryPlatform : public DbPlatform {
  public:
    OpenOutcome OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) override;
    bool RemoveFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool MoveReplacing(const std::string& from, const std::string& to) override;
    RecursiveLock& TableLock() override { return tableLock_; }
    RecursiveLock& EventLock() override { return eventLock_; }
    std::unique_ptr<ChangeStamp> OpenChangeStamp(const std::string& path) override;
    uint32_t TickCount() override { return tick_; }

    void SetTickCount(uint32_t tick) { tick_ = tick; }
    // Files by path: seeded by a test or read back from it.
    std::vector<uint8_t>& Bytes(const std::string& path);
    void Put(const std::string& path, std::vector<uint8_t> bytes);
    // Makes every open of `path` fail as if access were denied.
    void DenyAccess(const std::string& path) { denied_[path] = true; }
    int Flushes() const { return flushes_; }

    // Failures of the disk: the `nth` write from now on (1 for the next) fails and writes nothing;
    // with `failFlushes`, every flush fails. Writes are counted across all files.
    void FailWrite(int nth) { writesUntilFailure_ = nth; }
    void FailFlushes(bool fail) { failFlushes_ = fail; }
    int Writes() const { return writes_; }
    // Bytes read from all files so far, and the largest single read since the last reset.
    uint64_t BytesRead() const { return bytesRead_; }
    uint64_t LargestRead() const { return largestRead_; }
    void ResetLargestRead() { largestRead_ = 0; }
    void CountRead(size_t size) {
        bytesRead_ += size;
        largestRead_ = std::max<uint64_t>(largestRead_, size);
    }

    // For the files: counts the call and tells whether it goes through.
    bool AllowWrite();
    bool AllowFlush();

  private:
    std::map<std::string, std::shared_ptr<std::vector<uint8_t>>> files_;
    std::map<std::string, bool> denied_;
    std::map<std::string, std::shared_ptr<uint64_t>> stamps_;
    InProcessLock tableLock_;
    InProcessLock eventLock_;
    uint32_t tick_ = 1;
    int flushes_ = 0;
    int writes_ = 0;
    uint64_t bytesRead_ = 0;
    uint64_t largestRead_ = 0;
    int writesUntilFailure_ = 0;
    bool failFlushes_ = false;
};

} // namespace tv::devdb::testing
