// Texts of the language library for the backup components, formatted printf-style (8-bit).
#pragma once
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

namespace tv::backup {

// String `id` of the language library, empty when it has none.
std::string LoadText(HMODULE language, UINT id);

// String `id` used as a format with the arguments (texts as const char*, numbers as long).
template <class... Args>
std::string FormatText(HMODULE language, UINT id, Args... args) {
    const std::string pattern = LoadText(language, id);
    const int needed = std::snprintf(nullptr, 0, pattern.c_str(), args...);
    if (needed <= 0)
        return pattern;
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), pattern.c_str(), args...);
    return std::string(text.data(), static_cast<size_t>(needed));
}

// A BSTR of 8-bit text (null when it cannot be allocated).
BSTR TextBstr(const std::string& text);

} // namespace tv::backup
