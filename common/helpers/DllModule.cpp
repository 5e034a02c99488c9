#include "DllModule.h"
#include "LanguageLibrary.h"

namespace tv::dll {
namespace {

// Each DLL links its own copy of this library, so these belong to the one DLL.
HMODULE g_module = nullptr;
HMODULE g_languageLibrary = nullptr;

} // namespace

BOOL OnDllMain(HINSTANCE instance, DWORD reason, void* reserved, LanguageLibraryNeed need) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        if (need == LanguageLibraryNeed::NotUsed)
            return TRUE;
        g_languageLibrary = LoadLanguageLibrary(instance);
        return g_languageLibrary || need == LanguageLibraryNeed::Optional ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH && g_languageLibrary) {
        if (!reserved)
            FreeLibrary(g_languageLibrary);
        g_languageLibrary = nullptr;
    }
    return TRUE;
}

HMODULE ThisModule() {
    return g_module;
}

HMODULE LanguageLibrary() {
    return g_languageLibrary;
}

} // namespace tv::dll
