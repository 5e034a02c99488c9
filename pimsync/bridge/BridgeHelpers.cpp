#include "BridgeHelpers.h"
#include "AnsiText.h"
#include "Handles.h"
#include <windows.h>
#include <cwchar>

namespace tv::pimbridge {

std::string ReadProgramImagePath() {
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Zelvan\\Tavrilon", 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return {};
    char path[257] = {};
    DWORD size = 256;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), "Image", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    path[size < 256 ? size : 256] = 0;
    return path;
}

bool SplitWideList(const wchar_t* text, wchar_t separator, std::vector<std::string>& list) {
    list.clear();
    if (!text)
        return false;
    if (!*text)
        return true;
    if (separator == 0) {
        list.emplace_back();
        return true;
    }
    const wchar_t* start = text;
    for (;;) {
        const wchar_t* end = std::wcschr(start, separator);
        const size_t length = end ? static_cast<size_t>(end - start) : std::wcslen(start);
        list.push_back(com::ToAnsi(start, length));
        if (!end)
            return true;
        start = end + 1;
    }
}

} // namespace tv::pimbridge
