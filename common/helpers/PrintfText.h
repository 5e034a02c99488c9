// A printf-style format (a text of the language library, 8-bit) applied to its arguments.
#pragma once
#include <cstdio>
#include <string>

namespace tv {

// `format` with `args` (texts as const char*, numbers as long); the format as it stands when the
// arguments cannot be applied to it.
template <class... Args> std::string FormatPrintf(const std::string& format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (size < 0)
        return format;
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), args...);
    text.resize(static_cast<size_t>(size));
    return text;
}

} // namespace tv
