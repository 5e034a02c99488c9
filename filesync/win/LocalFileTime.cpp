#include "LocalFileTime.h"

namespace tv::filesync {

namespace {

// The system-time functions work to the millisecond; the offset between the two readings is
// applied to the full-precision time so that no 100-ns ticks are lost.
using Convert = BOOL(WINAPI*)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);

bool Shift(uint64_t from, uint64_t& to, Convert convert, const TIME_ZONE_INFORMATION* zone = nullptr) {
    SYSTEMTIME source = {};
    SYSTEMTIME converted = {};
    const FILETIME time = ToFileTime(from);
    if (!FileTimeToSystemTime(&time, &source) || !convert(zone, &source, &converted))
        return false;
    FILETIME sourceBack = {};
    FILETIME convertedTime = {};
    if (!SystemTimeToFileTime(&source, &sourceBack) || !SystemTimeToFileTime(&converted, &convertedTime))
        return false;
    const int64_t offset =
        static_cast<int64_t>(FromFileTime(convertedTime)) - static_cast<int64_t>(FromFileTime(sourceBack));
    to = static_cast<uint64_t>(static_cast<int64_t>(from) + offset);
    return true;
}

BOOL WINAPI ToLocal(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, SYSTEMTIME* local) {
    return SystemTimeToTzSpecificLocalTime(zone, utc, local);
}
BOOL WINAPI ToUtc(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* local, SYSTEMTIME* utc) {
    return TzSpecificLocalTimeToSystemTime(zone, local, utc);
}

} // namespace

bool UtcToLocalFileTime(uint64_t utc, uint64_t& local) {
    return Shift(utc, local, ToLocal);
}

bool UtcToLocalFileTime(uint64_t utc, uint64_t& local, const TIME_ZONE_INFORMATION* zone) {
    return Shift(utc, local, ToLocal, zone);
}

bool LocalToUtcFileTime(uint64_t local, uint64_t& utc) {
    return Shift(local, utc, ToUtc);
}

} // namespace tv::filesync
