// The texts the item property pages of both device generations show: sizes, file times,
// locations and the paths they pass to the hub.
#pragma once
#include <windows.h>
#include <string>

namespace tv::pages {

// "n bytes" below 1024, else the shell's short size text followed by the exact count, as in
// "1.00 KB (1024 bytes)". Sizes are unsigned: a file of 2 GB or more is not a negative number.
std::string SizeText(ULONGLONG bytes);

// The file time formed by the two halves in the system default locale's short date and time
// formats, "date time"; `toLocalTime` converts it from UTC first. Empty when it is no valid time.
std::string FileTimeText(long timeLow, long timeHigh, bool toLocalTime);

// `folder` shortened with an ellipsis to fit `widthPixels` in the font of `window`.
std::string CompactLocation(HWND window, const std::string& folder, UINT widthPixels);

// "folder\name": the path by which the hub knows an item.
std::string JoinItemPath(const std::string& folder, const std::string& name);

} // namespace tv::pages
