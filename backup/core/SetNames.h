// Names of backup sets and of the entries inside them.
#pragma once
#include <string>
#include <string_view>

namespace tv::backup {

// What is wrong with a set name the user typed, in the order the checks are made.
enum class SetNameProblem {
    kNone,
    kBadCharacter, // a character that cannot stand in a file name
    kEmpty,
    kTooLong, // the set file's path would not fit
};

// The longest path of a set file, in characters, without its terminating zero.
inline constexpr size_t kMaxSetPath = 259;
// The longest name of an entry in a set: what fits a PC path at all.
inline constexpr size_t kMaxEntryNameLength = 259;

// The name without white space at either end.
std::wstring TrimSetName(std::wstring_view name);

// Checks a trimmed set name that will become the file `folder` + separator + name + suffix.
SetNameProblem CheckSetName(std::wstring_view name, size_t folderLength);

// The proposed name of a new set: `pattern` with its first "%s" replaced by the device name and
// its second by the date text; the texts are taken literally, "%%" gives "%".
std::wstring FormatSetName(std::wstring_view pattern, std::wstring_view deviceName, std::wstring_view date);

// The set file: folder, separator, name and suffix.
std::wstring SetFilePath(std::wstring_view folder, std::wstring_view separator, std::wstring_view name,
                         std::wstring_view suffix);

// Whether a device file's name (from a listing or a set) may become a path below a PC folder: a
// relative path of fewer than 260 characters that the shared PC-safe name rule accepts (no empty,
// "." or ".." component, no drive colon, separator, wildcard or control character, no trailing dot
// or space, no device name such as COM1 or NUL).
bool IsSafeEntryName(std::string_view name);

} // namespace tv::backup
