// Text rules of the 1.0 generation's device replies: the "ls -l -t" listing, the media list of
// "ls /*", listing times, item paths to device paths, system files, "sysinfo" values, the "cfg"
// reply and the pieces of the device information text. Pure text code, no Windows headers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace devlink10 {

enum class ParseResult { Ok, InvalidArgument, Unexpected };

// Appends name "|" size "|" extension "|" date " " time "|" to `records` for every item line of
// an "ls -l -t" reply. A null output is InvalidArgument; a reply without "flash", without the
// line of 27 dashes, or with a malformed item line is Unexpected (what was appended stays, the
// caller drops it).
ParseResult ParseListingReply(const char* reply, std::string* records);

// One item of the records text.
struct ListingItem {
    std::string name;
    std::string size;
    std::string extension;
    std::string dateTime; // "DD.MM.YYYY HH:MM"
};
// Splits the records text at every "|" and takes four pieces per item.
std::vector<ListingItem> SplitListingRecords(const std::string& records);

// A signed decimal: leading blanks, an optional sign, digits up to the first non-digit;
// clamped to the 32-bit range.
long ReadDecimal(const std::string& text);

// The "DD.MM.YYYY HH:MM" text as a file time (100-ns units since 1601), taken as it stands
// (no time-zone conversion); false, with 0, when the fields do not make a calendar time.
bool ListingTimeToFileTime(const std::string& dateTime, uint64_t& fileTime);

// The media of a device: folder names and display texts, same count and order.
struct MediaList {
    std::vector<std::string> folders;
    std::vector<std::string> labels;
};
// Rebuilds `media` from the reply of "ls /*". Labels are the device's own texts; the caller
// replaces those of the folders "MP3" and "a" with its language texts.
void ParseMediaList(const std::string& reply, MediaList& media);

// The folder name of the medium with that display text: "default" for the default medium's
// text, else the matching list entry's folder; no match leaves the text as it is.
std::string MediumFolderOf(const std::string& mediumText, const std::string& defaultLabel, const MediaList& media);

// The device path of an item path ("<medium>\<folders...>\<name>"): "/" + medium folder +
// folders + "/" + name. False for a path without a backslash.
bool ToDevicePath(const std::string& itemPath, const std::string& defaultLabel, const MediaList& media,
                  std::string& devicePath);

// Whether the item (its last path part counts) is one of the device's own system files.
bool IsSystemFile(const std::string& itemPath);
constexpr long kSystemFileAttributes = 13;

// Whether a name may go into a device command between double quotes: no '"', no '|' and no
// control characters.
bool IsSafeDeviceName(const std::string& name);

// The number after `key` in a "sysinfo" reply (after the first ":" that follows it, up to the
// line feed); 0 when there is no digit or no line feed after it.
long SysinfoValue(const std::string& reply, const std::string& key);
// The model number that the "sysinfo /default" reply shows: 119, 114 or 0.
long ModelFromSysinfo(const std::string& reply);

// Whether a console reply reports a failure: a line that reads "fail" (the echo of the command,
// which repeats file names, does not count).
bool ReplyReportsFailure(const std::string& reply);

// The "cfg" reply as "key=value" entries joined by "|". Ok; Empty when no line is left (text
// unchanged); Failed for an empty reply or one without "Ready >".
enum class CfgResult { Ok, Empty, Failed };
CfgResult ParseCfgReply(const std::string& reply, std::string& text);

// The hardware version field of the cfg text (after "hardware version", up to the next "|")
// and its letter: 'w' when it holds a 2, else 'r' when it holds a 0 or 1, else 0.
std::string HardwareField(const std::string& cfgText);
char HardwareLetter(const std::string& hardwareField);
// The text after "rf channel" up to the next "|".
std::string RfChannelField(const std::string& cfgText);
// The text of a "ver" reply after "ver" up to "Ready >".
std::string VersionField(const std::string& verReply);

} // namespace devlink10
