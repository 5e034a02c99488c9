// The module face every in-process server of the suite shares: DllMain keeps the DLL's own
// handle and, where the DLL needs it, loads the language library beside it (refusing to load
// without it) and frees it at detach; the four exports forward to the DLL's tv::com::DllServer.
#pragma once
#include "ServerRegistration.h"
#include <windows.h>

namespace tv::dll {

// Optional: only for texts that have a fallback (error descriptions); the DLL loads without it.
enum class LanguageLibraryNeed { NotUsed, Optional, Required };

// What DllMain answers for `reason`. At process attach it keeps `instance` and, unless `need` is
// NotUsed, loads the language library, failing without it when it is Required; at process detach
// it frees the library, except when the process is ending (`reserved` set), when nothing may be
// unloaded.
BOOL OnDllMain(HINSTANCE instance, DWORD reason, void* reserved, LanguageLibraryNeed need);

// This DLL's handle (null before attach).
HMODULE ThisModule();

// The language library loaded at attach (null when the DLL does not use it).
HMODULE LanguageLibrary();

} // namespace tv::dll

// DllMain of an in-process server; `need` names a tv::dll::LanguageLibraryNeed (NotUsed, Optional,
// Required).
#define TV_DLL_MAIN(need)                                                                          \
    extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {           \
        return ::tv::dll::OnDllMain(instance, reason, reserved, ::tv::dll::LanguageLibraryNeed::need); \
    }

// DllGetClassObject and DllCanUnloadNow forwarding to `Server()`, a function returning the
// DLL's `const tv::com::DllServer&`.
#define TV_DLL_CLASS_OBJECT_EXPORTS(Server)                                                        \
    STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {                            \
        return Server().GetClassObject(clsid, riid, ppv);                                          \
    }                                                                                              \
    STDAPI DllCanUnloadNow() { return Server().CanUnloadNow(); }

// DllRegisterServer and DllUnregisterServer forwarding to `Server()` with this DLL's handle.
#define TV_DLL_REGISTRATION_EXPORTS(Server)                                                        \
    STDAPI DllRegisterServer() { return Server().Register(::tv::dll::ThisModule()); }              \
    STDAPI DllUnregisterServer() { return Server().Unregister(::tv::dll::ThisModule()); }

// DllMain and all four exports of an in-process server (each DLL's .def still exports them).
#define TV_DLL_SERVER(need, Server)                                                                \
    TV_DLL_MAIN(need)                                                                              \
    TV_DLL_CLASS_OBJECT_EXPORTS(Server)                                                            \
    TV_DLL_REGISTRATION_EXPORTS(Server)
