// Waiting on a handle while the calling thread's messages keep flowing, so that a
// single-threaded apartment goes on serving COM calls and windows while it waits.
#pragma once
#include <windows.h>

namespace tv {

// Waits at most `timeoutMs` (INFINITE: no limit) for `handle`, dispatching messages meanwhile.
// True when the handle is signalled; false on time-out or when a quit message arrived. A quit
// message seen while waiting is posted again after the wait so that the thread's own message
// loop still ends.
bool WaitWithMessagePump(HANDLE handle, DWORD timeoutMs);

// Waits without limit for `handle` while dispatching every message; false only when the wait
// itself fails. A quit message seen while waiting does not end the wait: it is posted again
// after the wait, so that the thread's own message loop still ends.
bool WaitForThreadWithPump(HANDLE handle);

} // namespace tv
