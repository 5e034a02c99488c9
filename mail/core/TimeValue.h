// A time-out of the socket layer: whole seconds and microseconds, kept normalised so that the
// microseconds lie in 0..999999.
#pragma once
#include <cstdint>

namespace tv::mail {

struct TimeValue {
    int32_t seconds = 0;
    int32_t microseconds = 0;

    static constexpr TimeValue Zero() { return {0, 0}; }
    static constexpr TimeValue Infinite() { return {2147483647, 999999}; }
    bool IsInfinite() const { return seconds == Infinite().seconds; }

    // Carries whole seconds out of the microseconds (and borrows for negative ones); a total
    // beyond the largest value becomes the infinite value.
    static TimeValue Normalised(int64_t seconds, int64_t microseconds);
    // A time-out of `milliseconds` (computed in 64 bits: a long message cannot wrap it round).
    static TimeValue FromMilliseconds(int64_t milliseconds);
};

bool operator==(const TimeValue& a, const TimeValue& b);

} // namespace tv::mail
