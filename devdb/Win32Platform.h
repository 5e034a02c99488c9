// The engine's platform on Windows: files opened for reading and writing and shared with other
// processes (the system-wide table lock serialises them), named recursive mutexes, and a change
// stamp per table file in a named shared-memory section.
#pragma once
#include "Platform.h"
#include <windows.h>
#include <atomic>

namespace tv::devdb {

// A named mutex taken recursively: the owning thread and a depth are kept, and the mutex is
// released when the outermost holder releases it.
class NamedRecursiveLock : public RecursiveLock {
  public:
    explicit NamedRecursiveLock(const char* name);
    NamedRecursiveLock(const NamedRecursiveLock&) = delete;
    NamedRecursiveLock& operator=(const NamedRecursiveLock&) = delete;
    ~NamedRecursiveLock() override;

    void Acquire() override;
    void Release() override;

  private:
    HANDLE mutex_;
    std::atomic<DWORD> owner_{0};
    long depth_ = 0;
};

class Win32Platform : public DbPlatform {
  public:
    Win32Platform();

    OpenOutcome OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) override;
    bool RemoveFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool MoveReplacing(const std::string& from, const std::string& to) override;
    RecursiveLock& TableLock() override { return tableLock_; }
    RecursiveLock& EventLock() override { return eventLock_; }
    std::unique_ptr<ChangeStamp> OpenChangeStamp(const std::string& tablePath) override;
    uint32_t TickCount() override { return GetTickCount(); }

  private:
    NamedRecursiveLock tableLock_;
    NamedRecursiveLock eventLock_;
};

} // namespace tv::devdb
