#include "Seams.h"
#include "DllModule.h"

namespace tv::shellns {

PlatformSeams& Seams() {
    static PlatformSeams seams;
    return seams;
}

HMODULE LanguageModule() {
    HMODULE library = dll::LanguageLibrary();
    return library ? library : Seams().languageLibrary;
}

std::string LangString(UINT id) {
    char text[1024] = {};
    if (LoadStringA(LanguageModule(), id, text, sizeof(text)) <= 0)
        return {};
    return text;
}

namespace {
bool VersionIs(DWORD major, DWORD minor) {
    DWORD version = Seams().getVersion();
    return LOBYTE(LOWORD(version)) == major && HIBYTE(LOWORD(version)) == minor;
}
} // namespace

bool IsWindows98() { return VersionIs(4, 10); }
bool IsWindows98OrMe() { return VersionIs(4, 10) || VersionIs(4, 90); }

} // namespace tv::shellns
