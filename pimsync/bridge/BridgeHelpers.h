// Two helpers of the mail bridge's DLL that other deliverables use too.
#pragma once
#include <string>
#include <vector>

namespace tv::pimbridge {

// The string value "Image" under HKLM "Software\Zelvan\Tavrilon" (the program's path, up to 256
// bytes); empty when the key or the value is missing.
std::string ReadProgramImagePath();

// Cuts a wide text at every `separator` into 8-bit items in the ANSI code page, empty items
// included (a trailing separator adds an empty last item; a separator of 0 gives one empty item).
// False for a null text; an empty text gives an empty list.
bool SplitWideList(const wchar_t* text, wchar_t separator, std::vector<std::string>& list);

} // namespace tv::pimbridge
