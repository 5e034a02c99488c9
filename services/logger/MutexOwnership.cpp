#include "MutexOwnership.h"

namespace tv::logger {
namespace {

bool IsTaken(DWORD waitResult) {
    return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED_0;
}

// Dispatches every waiting message; false when a quit message was among them (it is posted
// again so that the thread's own loop still ends).
bool DispatchWaitingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

// Like the suite's message-pumping wait, but a wait that reports the mutex abandoned already
// owns it; waiting again would take it a second time and one release would never free it.
bool TakeMutexPumping(HANDLE mutex, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &mutex, remaining, QS_ALLINPUT,
                                                         MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        if (IsTaken(result))
            return true;
        if (result == WAIT_OBJECT_0 + 1) {
            if (!DispatchWaitingMessages())
                return false;
            if (IsTaken(WaitForSingleObject(mutex, 0)))
                return true;
        } else if (result == WAIT_TIMEOUT || result == WAIT_FAILED) {
            return false;
        }
        if (remaining == 0)
            return false;
    }
}

} // namespace

MutexOwnership::MutexOwnership(HANDLE mutex, DWORD timeoutMs) : mutex_(mutex) {
    owned_ = mutex_ && TakeMutexPumping(mutex_, timeoutMs);
}

MutexOwnership::~MutexOwnership() {
    if (owned_)
        ReleaseMutex(mutex_);
}

} // namespace tv::logger
