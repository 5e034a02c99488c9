// Counts the live objects and server locks of a module. A DLL may unload when the count is zero;
// a local server is told through a callback when its last object goes away.
#pragma once
#include <windows.h>
#include <atomic>

namespace tv::com {

class ModuleLock {
public:
    using LastReleaseCallback = void (*)();

    static void Lock() { count_.fetch_add(1); }
    static void Unlock() {
        if (count_.fetch_sub(1) == 1) {
            if (LastReleaseCallback cb = onLastRelease_.load())
                cb();
        }
    }
    static long Count() { return count_.load(); }
    static void SetLastReleaseCallback(LastReleaseCallback cb) { onLastRelease_.store(cb); }

private:
    static inline std::atomic<long> count_{0};
    static inline std::atomic<LastReleaseCallback> onLastRelease_{nullptr};
};

} // namespace tv::com
