#include "Listing.h"

#include <cctype>
#include <cstdint>

namespace devlink15 {
namespace {

constexpr long kLongMax = 2147483647L;
constexpr long kLongMin = -2147483647L - 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The field at [from, from + count) of `text` read as a signed decimal; 0 when out of range.
int FieldAt(std::string_view text, size_t from, size_t count) {
    if (from >= text.size())
        return 0;
    return static_cast<int>(ParseClampedDecimal(text.substr(from, count)));
}

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468; // days since 1970-01-01
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The text from `from` up to the next blank; false when there is none.
bool TokenTo(std::string_view text, size_t from, size_t& blank) {
    if (from > text.size())
        return false;
    blank = text.find(' ', from);
    return blank != std::string_view::npos;
}

} // namespace

long ParseAttributeLetters(std::string_view token) {
    long bits = 0;
    for (char c : token) {
        switch (c) {
        case 'H': bits |= kAttrHidden; break;
        case 'R': bits |= kAttrReadOnly; break;
        case 's': bits |= kAttrSystem; break;
        case 'D': bits |= kAttrFolder; break;
        case 'M': bits |= kAttrM; break;
        case 'S': bits |= kAttrS; break;
        default: break;
        }
    }
    return bits;
}

long ParseClampedDecimal(std::string_view text) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    int64_t value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > kLongMax + int64_t{1})
            value = kLongMax + int64_t{1}; // keeps the number bounded; clamped below
    }
    if (negative)
        value = -value;
    if (value > kLongMax)
        return kLongMax;
    if (value < kLongMin)
        return kLongMin;
    return static_cast<long>(value);
}

ListingTime ParseListingTime(std::string_view text) {
    ListingTime time;
    time.text = std::string(text);
    time.day = FieldAt(text, 0, 2);
    time.month = FieldAt(text, 3, 2);
    time.year = FieldAt(text, 6, 4);
    time.hour = FieldAt(text, 11, 2);
    time.minute = FieldAt(text, 14, 2);
    time.second = 0;
    return time;
}

bool ListingTimeToFileTime(const ListingTime& time, uint64_t& fileTime) {
    fileTime = 0;
    if (time.year < 1601 || time.year > 30827 || time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > DaysInMonth(time.year, time.month) || time.hour < 0 || time.hour > 23 || time.minute < 0 ||
        time.minute > 59 || time.second < 0 || time.second > 59)
        return false;
    const int64_t days = DaysFromCivil(time.year, time.month, time.day) - DaysFromCivil(1601, 1, 1);
    const int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
    fileTime = static_cast<uint64_t>(seconds) * 10000000ULL;
    return true;
}

bool ParseListing(std::string_view reply, const ListingTexts& texts, std::vector<ListingEntry>& entries) {
    const std::string_view t = reply.empty() ? std::string_view() : reply.substr(1);
    size_t p = 0;
    // Nothing that starts within the last 10 characters (the status line) is read as a line.
    while (t.size() > 10 && p < t.size() - 10) {
        while (p < t.size() && t[p] == ' ')
            ++p;
        size_t blank = 0;
        if (!TokenTo(t, p, blank))
            return false;
        p = blank + 2; // the separating blank and one more character
        if (!TokenTo(t, p, blank))
            return false;
        const std::string_view attrToken = t.substr(p, blank - p);
        p = blank + 1;
        if (!TokenTo(t, p, blank))
            return false;
        const std::string_view dateToken = t.substr(p, blank - p);
        p = blank + 1;
        if (!TokenTo(t, p, blank))
            return false;
        const std::string_view timeToken = t.substr(p, blank - p);
        const size_t digit = t.find_first_of("0123456789", blank);
        if (digit == std::string_view::npos)
            return false;
        size_t sizeEnd = 0;
        if (!TokenTo(t, digit, sizeEnd))
            return false;
        const std::string_view sizeToken = t.substr(digit, sizeEnd - digit);
        const size_t pathStart = sizeEnd + 1;
        const size_t lineFeed = t.find('\n', pathStart);
        std::string_view path = lineFeed == std::string_view::npos ? t.substr(pathStart)
                                                                   : t.substr(pathStart, lineFeed - pathStart);
        p = lineFeed == std::string_view::npos ? t.size() : lineFeed + 1;
        while (!path.empty() && path.front() == ' ')
            path.remove_prefix(1);

        ListingEntry entry;
        entry.attr = ParseAttributeLetters(attrToken);
        entry.type = attrToken.find('D') != std::string_view::npos ? kTypeFolder : kTypeFile;
        entry.hint = 8;
        entry.size = ParseClampedDecimal(sizeToken);
        const size_t slash = path.rfind('/');
        entry.name = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
        entry.description = entry.type == kTypeFolder ? texts.folderDescription : texts.fileDescription;
        entry.path = std::string(path);
        std::string joined(dateToken);
        joined += ' ';
        joined += timeToken;
        uint64_t fileTime = 0;
        ListingTimeToFileTime(ParseListingTime(joined), fileTime);
        entry.timeLow = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(fileTime & 0xFFFFFFFFu)));
        entry.timeHigh = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(fileTime >> 32)));
        entries.push_back(std::move(entry));
    }
    return true;
}

} // namespace devlink15
