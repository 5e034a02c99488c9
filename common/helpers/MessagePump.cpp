#include "MessagePump.h"
#include <optional>

namespace tv {

namespace {

// Takes the handle if it is signalled now (a mutex left by an ended owner counts as taken).
bool IsSignalled(HANDLE handle) {
    DWORD result = WaitForSingleObject(handle, 0);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

} // namespace

bool WaitWithMessagePump(HANDLE handle, DWORD timeoutMs) {
    DWORD remaining = timeoutMs;
    bool quitSeen = false;
    WPARAM quitCode = 0;
    bool signalled = false;
    for (;;) {
        const DWORD started = GetTickCount();
        DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, remaining, QS_ALLINPUT, MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        if (remaining != INFINITE) {
            DWORD passed = GetTickCount() - started;
            remaining = passed >= remaining ? 0 : remaining - passed;
        }
        // An abandoned mutex is owned by this thread now, just as a signalled one would be.
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0) {
            signalled = true;
            break;
        }
        if (result == WAIT_TIMEOUT)
            break;
        if (result == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quitSeen = true;
                    quitCode = msg.wParam;
                    continue;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (quitSeen)
                break;
            if (IsSignalled(handle)) {
                signalled = true;
                break;
            }
            if (remaining == 0)
                break;
            continue;
        }
        if (result == WAIT_FAILED)
            break;
        // An alert or an abandoned wait: wait again for what remains.
        if (remaining == 0)
            break;
    }
    if (quitSeen) {
        // The quit belongs to the thread's own loop: hand it back instead of swallowing it.
        PostQuitMessage(static_cast<int>(quitCode));
        return false;
    }
    return signalled;
}

namespace {

// Waits for the handle, dispatching every message but a quit, which is kept in `quit`.
bool PumpUntilSignalled(HANDLE handle, std::optional<WPARAM>& quit) {
    for (;;) {
        DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (IsSignalled(handle))
                return true;
        }
    }
}

} // namespace

bool WaitForThreadWithPump(HANDLE handle) {
    std::optional<WPARAM> quit;
    const bool signalled = PumpUntilSignalled(handle, quit);
    // A quit asked for meanwhile belongs to the thread's own loop, which ends once the wait is over.
    if (quit)
        PostQuitMessage(static_cast<int>(*quit));
    return signalled;
}

} // namespace tv
