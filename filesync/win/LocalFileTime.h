// PC file times as the synchronizer keeps them: local file times, converted with the time-zone
// rules in force on the file's own date (daylight saving included), not with today's offset, so
// that a change of season neither re-copies nor puts in conflict every file.
#pragma once
#include <windows.h>
#include <cstdint>

namespace tv::filesync {

// UTC file time to local file time by the rules of its date; false when it cannot be converted.
bool UtcToLocalFileTime(uint64_t utc, uint64_t& local);
// The same by the rules of `zone` (the time zone in force when it was fetched); a null zone is
// the one in force now, fetched again for this conversion.
bool UtcToLocalFileTime(uint64_t utc, uint64_t& local, const TIME_ZONE_INFORMATION* zone);
// Local file time to UTC by the rules of its date; false when it cannot be converted.
bool LocalToUtcFileTime(uint64_t local, uint64_t& utc);

inline uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
inline FILETIME ToFileTime(uint64_t time) {
    FILETIME out;
    out.dwLowDateTime = static_cast<DWORD>(time);
    out.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return out;
}

} // namespace tv::filesync
