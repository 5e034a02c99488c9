// The DLL face of the logger: its class object, self-registration and the language library
// that every DLL of the suite loads beside itself.
#include "LanguageLibrary.h"
#include "LoggerObject.h"
#include "ServerRegistration.h"

namespace {

using namespace tv;

// Hands out the one logger of the process.
HRESULT CreateLoggerClassObject(REFIID riid, void** ppv) {
    static com::SharedInstance<logger::ZvLogger> slot;
    return com::CreateComObject<com::SharedInstanceFactory<logger::ZvLogger>>(riid, ppv, slot);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvLogger,
                                                       .description = L"Logger Class",
                                                       .progId = L"Tavrilon.Logger.1",
                                                       .versionIndependentProgId = L"Tavrilon.Logger",
                                                       .threadingModel = L"Apartment",
                                                       .typeLib = &LIBID_ZVLOGGERLib,
                                                       .programmable = true,
                                                       .categories = {},
                                                       .createClassObject = CreateLoggerClassObject}},
                                       true);
    return server;
}

HMODULE g_module = nullptr;
com::UniqueModule g_languageLibrary;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        g_languageLibrary.Reset(LoadLanguageLibrary(instance));
        return g_languageLibrary ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH)
        g_languageLibrary.Reset();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return Server().GetClassObject(clsid, riid, ppv);
}
STDAPI DllCanUnloadNow() {
    return Server().CanUnloadNow();
}
STDAPI DllRegisterServer() {
    return Server().Register(g_module);
}
STDAPI DllUnregisterServer() {
    return Server().Unregister(g_module);
}
