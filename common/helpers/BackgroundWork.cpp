#include "BackgroundWork.h"
#include "MessagePump.h"

namespace tv {

BackgroundWork::BackgroundWork(std::function<void()> work) : work_(std::move(work)) {
    thread_.Reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    if (!thread_)
        work_();
}

BackgroundWork::~BackgroundWork() {
    Wait();
}

void BackgroundWork::Wait() {
    if (!thread_)
        return;
    // Without a limit: the work is the caller's own and ends by itself. Should the wait itself
    // fail, the thread is still waited for, so that the work never outlives what it uses.
    if (!WaitForThreadWithPump(thread_.Get()))
        WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
}

DWORD WINAPI BackgroundWork::Run(void* self) {
    static_cast<BackgroundWork*>(self)->work_();
    return 0;
}

} // namespace tv
