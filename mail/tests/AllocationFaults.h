// Test-only: allocation failures on demand, for the paths that must not lose or leak a letter
// when memory runs out. A TaskAllocationFault registers a malloc spy with COM while it lives: the
// task allocator then refuses every allocation of one size, and the spy counts the blocks
// allocated and freed meanwhile. FailNthNew makes an allocation through operator new throw (this
// test program replaces operator new; the letter enumerator is linked into it).
#pragma once
#include "ComPtr.h"
#include <windows.h>
#include <objidl.h>

namespace tv::mail::testing {

class TaskAllocationFault {
  public:
    // Refuses allocations of `refusedSize` bytes (0: none).
    explicit TaskAllocationFault(SIZE_T refusedSize);
    ~TaskAllocationFault();
    TaskAllocationFault(const TaskAllocationFault&) = delete;
    TaskAllocationFault& operator=(const TaskAllocationFault&) = delete;

    bool Registered() const { return registered_; }
    // Allocations refused so far, and blocks allocated under the spy not freed yet.
    long Refused() const;
    long Outstanding() const;

  private:
    class Spy;
    com::ComPtr<Spy> spy_;
    bool registered_ = false;
};

// The `n`-th allocation through operator new from now throws std::bad_alloc (0: none).
void FailNthNew(int n);

} // namespace tv::mail::testing
