// The parts of the relative names of the device's files ("\"-separated). Whether such a name
// may become a PC path is tv::portable's rule (PcSafeName.h).
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace filesync {

// The folder levels of a relative file name: for a\b\f, "a" then "a\b".
std::vector<std::string> FolderLevels(std::string_view name);

// The part before the first "\" (the whole name when it has none).
std::string_view FirstComponent(std::string_view name);

// The part after the last "\" (the whole name when it has none).
std::string_view LastComponent(std::string_view name);

} // namespace filesync
