// Texts of the language library for the backup components, formatted printf-style (8-bit).
#pragma once
#include "PrintfText.h"
#include <windows.h>
#include <string>

namespace tv::backup {

// String `id` of the language library, empty when it has none.
std::string LoadText(HMODULE language, UINT id);

// String `id` used as a format with the arguments (texts as const char*, numbers as long).
template <class... Args>
std::string FormatText(HMODULE language, UINT id, Args... args) {
    const std::string pattern = LoadText(language, id);
    const std::string text = FormatPrintf(pattern, args...);
    return text.empty() ? pattern : text;
}

// A BSTR of 8-bit text (null when it cannot be allocated).
BSTR TextBstr(const std::string& text);

} // namespace tv::backup
