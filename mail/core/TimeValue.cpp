#include "TimeValue.h"

namespace tv::mail {

TimeValue TimeValue::Normalised(int64_t seconds, int64_t microseconds) {
    seconds += microseconds / 1000000;
    microseconds %= 1000000;
    if (microseconds < 0) {
        microseconds += 1000000;
        --seconds;
    }
    if (seconds >= Infinite().seconds)
        return Infinite();
    if (seconds < -Infinite().seconds - 1)
        seconds = -Infinite().seconds - 1;
    return {static_cast<int32_t>(seconds), static_cast<int32_t>(microseconds)};
}

TimeValue TimeValue::FromMilliseconds(int64_t milliseconds) {
    return Normalised(milliseconds / 1000, (milliseconds % 1000) * 1000);
}

bool operator==(const TimeValue& a, const TimeValue& b) {
    return a.seconds == b.seconds && a.microseconds == b.microseconds;
}

} // namespace tv::mail
