// Takes a mutex that other processes share, waiting with the thread's messages flowing, and
// releases it at the end of the scope.
#pragma once
#include <windows.h>

namespace tv::logger {

class MutexOwnership {
  public:
    // Waits at most `timeoutMs`. A mutex left abandoned by a writer that died counts as taken:
    // the wait hands its ownership to us exactly once.
    MutexOwnership(HANDLE mutex, DWORD timeoutMs);
    MutexOwnership(const MutexOwnership&) = delete;
    MutexOwnership& operator=(const MutexOwnership&) = delete;
    ~MutexOwnership();

    bool Owned() const { return owned_; }

  private:
    HANDLE mutex_;
    bool owned_ = false;
};

} // namespace tv::logger
