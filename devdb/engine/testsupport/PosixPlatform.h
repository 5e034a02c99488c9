// Test support (host tree only): the engine's platform over files on disk, for the fixture checks
// and the native benchmark. Locks and change stamps are those of the process.
#pragma once
#include "MemoryPlatform.h"

namespace tv::devdb::testing {

class PosixPlatform : public DbPlatform {
  public:
    // Without `flushes`, a flush forces nothing to the disk: for building large tables quickly.
    explicit PosixPlatform(bool flushes = true) : flushes_(flushes) {}
    OpenOutcome OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) override;
    bool RemoveFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool MoveReplacing(const std::string& from, const std::string& to) override;
    RecursiveLock& TableLock() override { return tableLock_; }
    RecursiveLock& EventLock() override { return eventLock_; }
    std::unique_ptr<ChangeStamp> OpenChangeStamp(const std::string& path) override {
        return InProcessChangeStamp(path);
    }
    uint32_t TickCount() override;

  private:
    bool flushes_;
    InProcessLock tableLock_;
    InProcessLock eventLock_;
};

} // namespace tv::devdb::testing
