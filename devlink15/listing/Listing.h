// The device's console listings taken apart: one listing line per item ("1  HRs 01.02.2003 04:05
// 123 /default/a.txt"), its attribute letters and its time. Portable code: no Windows headers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace devlink15 {

// Attribute bits of a listing entry, one per letter of the attribute token (case matters).
enum ListingAttribute : long {
    kAttrHidden = 1,    // "H"
    kAttrReadOnly = 4,  // "R"
    kAttrSystem = 8,    // "s"
    kAttrFolder = 16,   // "D"
    kAttrM = 32,        // "M", kept only
    kAttrS = 64,        // "S", kept only
};

inline constexpr long kTypeVolume = 2;
inline constexpr long kTypeFolder = 4;
inline constexpr long kTypeFile = 8;

// Texts the parsers put into their results; the device object takes them from the language
// library, the tests give their own.
struct ListingTexts {
    std::string folderDescription; // description of a folder entry
    std::string fileDescription;   // description of a file entry
    std::string mainLabel;         // label of the main volume ("default")
    std::string playerLabel;       // label of the volumes named "MP3" and "a"
};

struct ListingEntry {
    long type = kTypeFile;
    long attr = 0;
    long hint = 8;
    long size = 0;
    std::string name;        // last component of the path
    std::string description; // folder or file description
    std::string path;        // the path column as listed
    long timeLow = 0;
    long timeHigh = 0;
};

struct ListingTime {
    std::string text; // date token, one blank, time token
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Attribute bits of an attribute token.
long ParseAttributeLetters(std::string_view token);

// The fields of "dd.mm.yyyy HH:MM"; the separators are not checked.
ListingTime ParseListingTime(std::string_view text);
// File time (100-ns units since 1601) of a calendar time taken as it stands; false when the
// fields do not form a valid time (the result is then 0).
bool ListingTimeToFileTime(const ListingTime& time, uint64_t& fileTime);

// Signed decimal at the start of `text` (stops at the first non-digit); values above
// 2147483647 become 2147483647.
long ParseClampedDecimal(std::string_view text);

// Appends the entries of one listing reply (whose first character is the reply's leading line
// feed and is never read). True on success; false when a line lacks its columns, then the
// entries appended so far stay and the caller discards them.
bool ParseListing(std::string_view reply, const ListingTexts& texts, std::vector<ListingEntry>& entries);

} // namespace devlink15
