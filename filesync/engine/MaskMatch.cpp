#include "MaskMatch.h"

namespace filesync {

// Iterative matcher: on a mismatch it returns to just after the last "*" and lets that star
// swallow one more character. Earlier stars never need revisiting, so the cost is bounded by
// mask length times name length with no recursion.
bool MatchMask(std::string_view mask, std::string_view name) {
    size_t m = 0;
    size_t n = 0;
    size_t starMask = std::string_view::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

} // namespace filesync
