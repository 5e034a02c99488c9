// Names that come from the device's listing become PC paths under the synchronization root, so
// a name that could leave the root or name a device or stream on the PC is refused.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace filesync {

// True when every "\"-separated component is non-empty and neither "." nor "..", and the name
// holds no ":", no "/" and no NUL (a leading "\" gives an empty first component).
bool IsSafeRelativeName(std::string_view name);

// The folder levels of a relative file name: for a\b\f, "a" then "a\b".
std::vector<std::string> FolderLevels(std::string_view name);

// The part before the first "\" (the whole name when it has none).
std::string_view FirstComponent(std::string_view name);

// The part after the last "\" (the whole name when it has none).
std::string_view LastComponent(std::string_view name);

} // namespace filesync
