// Automation dates (days since 30 December 1899, the time of day as the fraction) to and from the
// text form YYYY-MM-DD[THH:MM[:SS]].
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace capauthor {

std::optional<double> ParseAutomationDate(std::string_view text);
std::string FormatAutomationDate(double date);

} // namespace capauthor
