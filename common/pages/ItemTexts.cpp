#include "ItemTexts.h"
#include <shlwapi.h>
#include <cinttypes>
#include <cstdio>

namespace tv::pages {

std::string SizeText(ULONGLONG bytes) {
    char text[320];
    if (bytes < 1024) {
        std::snprintf(text, sizeof(text), "%" PRIu64 " bytes", static_cast<uint64_t>(bytes));
        return text;
    }
    char shortText[260] = {};
    StrFormatByteSize64A(static_cast<LONGLONG>(bytes), shortText, sizeof(shortText));
    std::snprintf(text, sizeof(text), "%s (%" PRIu64 " bytes)", shortText, static_cast<uint64_t>(bytes));
    return text;
}

std::string FileTimeText(long timeLow, long timeHigh, bool toLocalTime) {
    FILETIME time = {static_cast<DWORD>(timeLow), static_cast<DWORD>(timeHigh)};
    FILETIME shown = time;
    if (toLocalTime && !FileTimeToLocalFileTime(&time, &shown))
        return {};
    SYSTEMTIME system = {};
    if (!FileTimeToSystemTime(&shown, &system))
        return {};
    char date[260] = {};
    char clock[260] = {};
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, &system, nullptr, date, sizeof(date));
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &system, nullptr, clock, sizeof(clock));
    return std::string(date) + " " + clock;
}

std::string CompactLocation(HWND window, const std::string& folder, UINT widthPixels) {
    char text[MAX_PATH] = {};
    lstrcpynA(text, folder.c_str(), sizeof(text));
    HDC dc = GetDC(window);
    if (!dc)
        return text;
    // The page's own font, so that the text fits as it is drawn.
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    PathCompactPathA(dc, text, widthPixels);
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return text;
}

std::string JoinItemPath(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

} // namespace tv::pages
