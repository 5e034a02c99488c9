// The descriptor "root.inf" of package and application files: a text shaped like device console
// output, one field per line, ended by the device's prompt line "Ready >".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tv::package {

// The descriptor's fields, named by their position; only the version and the required version
// have a meaning for the installers.
struct PackageInfo {
    std::string title;
    std::string subtitle;
    int firstNumber = 0;
    int secondNumber = 0;
    std::vector<std::string> firstWords;
    std::vector<std::string> secondWords;
    std::string thirdText;
    std::string version;
    std::string requiredVersion;
    std::string fourthText;
    std::vector<std::string> thirdWords;
    int flags = 0; // bit 0: a flag word 3 was given; bit 1: a flag word 2 was given
};

inline constexpr int kPackageFlagThree = 1;
inline constexpr int kPackageFlagTwo = 2;

// Fills `info` (cleared first) from the descriptor text. With `withNumbers`, lines 3 and 4 hold
// the two numbers; without, the word lists follow the subtitle at once. Parsing stops at the
// line "Ready >"; the fields not reached stay cleared. Always succeeds.
bool ParsePackageInfo(PackageInfo& info, std::string_view text, bool withNumbers);

// The decimal value of the first run of digits in `text`, 0 when there is none; a value too
// large for an int is held at the largest int.
int ReadLeadingNumber(std::string_view text);

// The words of one line: runs separated by spaces, or double-quoted runs that may hold spaces.
std::vector<std::string> ReadWords(std::string_view line);

} // namespace tv::package
