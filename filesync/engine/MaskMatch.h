// Wildcard masks of the file synchronizer: "?" one character, "*" any run (also none), every
// other character only itself, byte for byte. Linear in practice, never backtracking more than
// the last "*".
#pragma once
#include <string_view>

namespace filesync {

bool MatchMask(std::string_view mask, std::string_view name);

} // namespace filesync
