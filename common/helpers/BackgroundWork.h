// One piece of work run on a thread of its own while the calling thread goes on with another,
// for work that needs nothing of the caller's apartment (files, the registry). Waiting for it
// keeps the caller's messages flowing, so that a single-threaded apartment still serves calls
// (a stop among them) meanwhile.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <functional>

namespace tv {

class BackgroundWork {
  public:
    // Starts `work` on a new thread; where no thread can be started, runs it at once on this one.
    explicit BackgroundWork(std::function<void()> work);
    // Waits for the work, as Wait does.
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Returns once the work has ended, dispatching this thread's messages meanwhile.
    void Wait();

  private:
    static DWORD WINAPI Run(void* self);

    std::function<void()> work_;
    com::UniqueHandle thread_;
};

} // namespace tv
