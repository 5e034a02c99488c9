#include "LanguageLibrary.h"
#include <atomic>
#include <cstdio>
#include <vector>

namespace tv {

namespace {
std::atomic<DWORD> g_cachedLangId{0};
}

DWORD ReadLangId() {
    DWORD cached = g_cachedLangId.load();
    if (cached != 0)
        return cached;
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Zelvan\\Tavrilon", "LangID", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0;
    g_cachedLangId.store(value);
    return value;
}

std::string BuildLanguageLibraryPath(HMODULE module) {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::string folder(path.begin(), path.end());
    size_t slash = folder.rfind('\\');
    if (slash == std::string::npos)
        return {};
    folder.resize(slash);
    char name[32];
    std::snprintf(name, sizeof(name), "\\Zv%04x.dll", static_cast<unsigned>(ReadLangId() & 0xFFFF));
    return folder + name;
}

HMODULE LoadLanguageLibrary(HMODULE module) {
    const std::string path = BuildLanguageLibraryPath(module);
    if (path.empty())
        return nullptr;
    // A resource-only library: mapped for its resources, never run.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::string LoadLanguageString(HMODULE language, UINT id) {
    char buffer[2048] = {};
    if (!language || LoadStringA(language, id, buffer, sizeof(buffer)) <= 0)
        return {};
    return buffer;
}

} // namespace tv
