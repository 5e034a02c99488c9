#include "automation_date.h"

#include <cmath>
#include <cstdio>

namespace capauthor {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

constexpr long long kEpochOffset = 25569; // 1970-01-01 as an automation date

} // namespace

std::optional<double> ParseAutomationDate(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    const std::string copy(text);
    const int fields = std::sscanf(copy.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used);
    if (fields != 3)
        return std::nullopt;
    std::string_view rest = text.substr(static_cast<size_t>(used));
    if (!rest.empty()) {
        int timeUsed = 0;
        const std::string time(rest);
        if (std::sscanf(time.c_str(), "T%2d:%2d%n", &hour, &minute, &timeUsed) != 2)
            return std::nullopt;
        rest = rest.substr(static_cast<size_t>(timeUsed));
        if (!rest.empty()) {
            int secondsUsed = 0;
            const std::string seconds(rest);
            if (std::sscanf(seconds.c_str(), ":%2d%n", &second, &secondsUsed) != 1 ||
                static_cast<size_t>(secondsUsed) != rest.size())
                return std::nullopt;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    long long y2;
    unsigned m2, d2;
    const long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    CivilFromDays(days, y2, m2, d2);
    if (y2 != year || m2 != static_cast<unsigned>(month) || d2 != static_cast<unsigned>(day))
        return std::nullopt; // 31 April and the like
    return static_cast<double>(days + kEpochOffset) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::string FormatAutomationDate(double date) {
    if (!std::isfinite(date) || std::fabs(date) > 1e7)
        return "(out of range)";
    const long long totalSeconds = std::llround(date * 86400.0);
    long long days = totalSeconds / 86400;
    long long seconds = totalSeconds % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(days - kEpochOffset, y, m, d);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return text;
}

} // namespace capauthor
