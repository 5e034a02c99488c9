#include "Listing10.h"
#include "ConsoleSafeText.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace devlink10 {
namespace {

constexpr char kDashLine[] = "---------------------------"; // 27 dashes

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The line's text from `from` up to the line feed, without a carriage return before it.
std::string LineText(const std::string& text, size_t from, size_t lineFeed) {
    size_t end = lineFeed;
    if (end > from && text[end - 1] == '\r')
        --end;
    return text.substr(from, end - from);
}

// Parses one item line of the listing text starting at `pos`; false when it is malformed.
bool ParseItemLine(const std::string& items, size_t& pos, std::string& records) {
    const size_t dateEnd = items.find(' ', pos);
    if (dateEnd == std::string::npos)
        return false;
    const std::string date = items.substr(pos, dateEnd - pos);
    pos = dateEnd + 1;
    const size_t timeEnd = items.find(' ', pos);
    if (timeEnd == std::string::npos)
        return false;
    const std::string time = items.substr(pos, timeEnd - pos);
    size_t sizeStart = timeEnd;
    while (sizeStart < items.size() && !IsDigit(items[sizeStart]))
        ++sizeStart;
    if (sizeStart >= items.size())
        return false;
    const size_t sizeEnd = items.find(' ', sizeStart);
    if (sizeEnd == std::string::npos)
        return false;
    const std::string size = items.substr(sizeStart, sizeEnd - sizeStart);
    const size_t lineFeed = items.find('\n', sizeEnd + 1);
    if (lineFeed == std::string::npos)
        return false;
    const std::string name = LineText(items, sizeEnd + 1, lineFeed);
    pos = lineFeed + 1;
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    records += name + "|" + size + "|" + extension + "|" + date + " " + time + "|";
    return true;
}

// Days since 1 January 1601 of a proleptic Gregorian date.
int64_t DaysSince1601(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t daysSince1970 = era * 146097 + dayOfEra - 719468;
    return daysSince1970 + 134774; // 1601-01-01 .. 1970-01-01
}

bool IsLeap(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

long DaysInMonth(long year, long month) {
    static constexpr std::array<long, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[static_cast<size_t>(month - 1)];
}

// The device's own files: programs, their data and the settings of its software.
constexpr std::array<const char*, 40> kBuiltInFiles{
    "zvos.bin",      "zvos.cfg",      "boot.ini",      "system.dat",    "settings.dat",  "user.dat",
    "contacts.dat",  "calendar.dat",  "memo.dat",      "todo.dat",      "alarm.dat",     "clock.app",
    "calendar.app",  "contacts.app",  "memo.app",      "todo.app",      "calc.app",      "games.app",
    "player.app",    "radio.app",     "setup.app",     "shell.app",     "launcher.app",  "fonts.dat",
    "font8.fnt",     "font12.fnt",    "font16.fnt",    "icons.dat",     "sounds.dat",    "ringtones.dat",
    "lang.dat",      "keymap.dat",    "rf.cfg",        "network.cfg",   "display.cfg",   "power.cfg",
    "player.cfg",    "radio.cfg",     "shell.cfg",     "registry.dat"};

} // namespace

ParseResult ParseListingReply(const char* reply, std::string* records) {
    if (!records)
        return ParseResult::InvalidArgument;
    if (!reply)
        return ParseResult::Unexpected;
    const std::string text(reply);
    const size_t flash = text.find("flash");
    const size_t dashes = text.find(kDashLine);
    if (flash == std::string::npos || dashes == std::string::npos)
        return ParseResult::Unexpected;
    const size_t start = flash + 7;
    // A dash line before the item text leaves no items.
    const std::string items = start < dashes ? text.substr(start, dashes - start) : std::string();
    size_t pos = 0;
    while (pos < items.size()) {
        if (!ParseItemLine(items, pos, *records))
            return ParseResult::Unexpected;
    }
    return ParseResult::Ok;
}

std::vector<ListingItem> SplitListingRecords(const std::string& records) {
    std::vector<std::string> pieces;
    size_t from = 0;
    for (;;) {
        const size_t bar = records.find('|', from);
        pieces.push_back(records.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
        if (bar == std::string::npos)
            break;
        from = bar + 1;
    }
    std::vector<ListingItem> items;
    for (size_t k = 0; k + 4 <= pieces.size(); k += 4)
        items.push_back({pieces[k], pieces[k + 1], pieces[k + 2], pieces[k + 3]});
    return items;
}

long ReadDecimal(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+'))
        negative = text[pos++] == '-';
    int64_t value = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > INT32_MAX)
            value = int64_t{INT32_MAX} + 1;
    }
    if (negative)
        value = -value;
    return static_cast<long>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

bool ListingTimeToFileTime(const std::string& dateTime, uint64_t& fileTime) {
    fileTime = 0;
    if (dateTime.size() < 16)
        return false;
    const long day = ReadDecimal(dateTime.substr(0, 2));
    const long month = ReadDecimal(dateTime.substr(3, 2));
    const long year = ReadDecimal(dateTime.substr(6, 4));
    const long hour = ReadDecimal(dateTime.substr(11, 2));
    const long minute = ReadDecimal(dateTime.substr(14, 2));
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59)
        return false;
    const int64_t seconds = DaysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60;
    fileTime = static_cast<uint64_t>(seconds) * 10000000ULL;
    return true;
}

void ParseMediaList(const std::string& reply, MediaList& media) {
    media.folders.clear();
    media.labels.clear();
    const size_t main = reply.find("/default main_flash");
    size_t pos = main == std::string::npos ? 20 : main + 21;
    if (pos > reply.size())
        return;
    std::string rest = reply.substr(pos);
    for (;;) {
        const size_t slash = rest.find('/');
        if (slash == std::string::npos)
            return;
        const size_t blank = rest.find(' ', slash);
        if (blank == std::string::npos)
            return;
        const std::string folder = rest.substr(slash + 1, blank - slash - 1);
        const size_t lineFeed = rest.find('\n', blank + 1);
        if (lineFeed == std::string::npos) {
            // The last line without its line end: its text stays empty and reading ends.
            media.folders.push_back(folder);
            media.labels.emplace_back();
            return;
        }
        media.folders.push_back(folder);
        media.labels.push_back(LineText(rest, blank + 1, lineFeed));
        rest = rest.substr(lineFeed + 1);
    }
}

std::string MediumFolderOf(const std::string& mediumText, const std::string& defaultLabel, const MediaList& media) {
    if (mediumText == defaultLabel)
        return "default";
    std::string folder = mediumText;
    for (size_t i = 0; i < media.labels.size() && i < media.folders.size(); ++i) {
        if (folder == media.labels[i])
            folder = media.folders[i];
    }
    return folder;
}

bool ToDevicePath(const std::string& itemPath, const std::string& defaultLabel, const MediaList& media,
                  std::string& devicePath) {
    const size_t first = itemPath.find('\\');
    if (first == std::string::npos)
        return false;
    const size_t last = itemPath.rfind('\\');
    std::string folders = first == last ? std::string() : itemPath.substr(first + 1, last - first - 1);
    std::replace(folders.begin(), folders.end(), '\\', '/');
    if (!folders.empty() && folders.back() == '/')
        folders.pop_back();
    devicePath = "/" + MediumFolderOf(itemPath.substr(0, first), defaultLabel, media);
    if (!folders.empty())
        devicePath += "/" + folders;
    devicePath += "/" + itemPath.substr(last + 1);
    return true;
}

bool IsSystemFile(const std::string& itemPath) {
    const size_t slash = itemPath.rfind('\\');
    const std::string last = slash == std::string::npos ? itemPath : itemPath.substr(slash + 1);
    const size_t dot = last.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : last.substr(dot + 1);
    if (extension == "boot" || extension == "dl")
        return true;
    if ((last.rfind("root_", 0) == 0 || last.rfind("chat_", 0) == 0) && extension == "app")
        return true;
    return std::find_if(kBuiltInFiles.begin(), kBuiltInFiles.end(),
                        [&](const char* name) { return last == name; }) != kBuiltInFiles.end();
}

bool IsSafeDeviceName(const std::string& name) { return tv::portable::IsConsoleSafeText(name); }

long SysinfoValue(const std::string& reply, const std::string& key) {
    const size_t at = reply.find(key);
    if (at == std::string::npos || key.empty())
        return 0;
    size_t pos = at + key.size();
    const size_t colon = reply.find(':', pos);
    if (colon != std::string::npos)
        pos = colon + 1;
    while (pos < reply.size() && !IsDigit(reply[pos]))
        ++pos;
    if (pos >= reply.size())
        return 0;
    const size_t lineFeed = reply.find('\n', pos);
    if (lineFeed == std::string::npos)
        return 0;
    // The number starts at its first digit; a minus right before it belongs to it.
    if (pos > 0 && reply[pos - 1] == '-')
        --pos;
    return ReadDecimal(reply.substr(pos, lineFeed - pos));
}

long ModelFromSysinfo(const std::string& reply) {
    const size_t label = reply.find("sysinfo : blocks_total     :");
    size_t pos = label == std::string::npos ? 0 : label + 1;
    while (pos < reply.size() && !IsDigit(reply[pos]))
        ++pos;
    const std::string digits = pos < reply.size() ? reply.substr(pos, 4) : std::string();
    if (digits == "2043")
        return 119;
    if (digits == "1023")
        return 114;
    return 0;
}

bool ReplyReportsFailure(const std::string& reply) {
    size_t from = 0;
    while (from < reply.size()) {
        const size_t lineFeed = reply.find('\n', from);
        std::string line = reply.substr(from, lineFeed == std::string::npos ? std::string::npos : lineFeed - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "fail")
            return true;
        if (lineFeed == std::string::npos)
            break;
        from = lineFeed + 1;
    }
    return false;
}

CfgResult ParseCfgReply(const std::string& reply, std::string& text) {
    const size_t ready = reply.find("Ready >");
    if (reply.empty() || ready == std::string::npos)
        return CfgResult::Failed;
    const size_t cfg = reply.find("cfg");
    const size_t start = cfg == std::string::npos ? 3 : cfg + 4;
    if (start > reply.size())
        return CfgResult::Empty;
    // The entries run up to the prompt that follows them.
    std::string part = reply.substr(start);
    const size_t innerReady = part.find("Ready >");
    if (innerReady != std::string::npos)
        part.resize(innerReady);

    std::vector<std::string> entries;
    size_t from = 0;
    while (from <= part.size()) {
        const size_t lineFeed = part.find('\n', from);
        std::string line = part.substr(from, lineFeed == std::string::npos ? std::string::npos : lineFeed - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty()) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos)
                entries.push_back(line + "=");
            else
                entries.push_back(line.substr(0, colon) + "=" + line.substr(colon + 1));
        }
        if (lineFeed == std::string::npos)
            break;
        from = lineFeed + 1;
    }
    if (entries.empty())
        return CfgResult::Empty;
    text.clear();
    for (size_t i = 0; i < entries.size(); ++i)
        text += (i ? "|" : "") + entries[i];
    return CfgResult::Ok;
}

namespace {
std::string FieldAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos)
        return {};
    const size_t start = at + label.size();
    const size_t bar = text.find('|', start);
    return text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
}
} // namespace

std::string HardwareField(const std::string& cfgText) { return FieldAfter(cfgText, "hardware version"); }

char HardwareLetter(const std::string& hardwareField) {
    if (hardwareField.find('2') != std::string::npos)
        return 'w';
    if (hardwareField.find_first_of("01") != std::string::npos)
        return 'r';
    return 0;
}

std::string RfChannelField(const std::string& cfgText) { return FieldAfter(cfgText, "rf channel"); }

std::string VersionField(const std::string& verReply) {
    const size_t at = verReply.find("ver");
    if (at == std::string::npos)
        return {};
    const size_t start = at + 3;
    const size_t ready = verReply.find("Ready >", start);
    return verReply.substr(start, ready == std::string::npos ? std::string::npos : ready - start);
}

} // namespace devlink10
