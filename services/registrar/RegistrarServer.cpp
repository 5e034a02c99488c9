// ZvRegistrar.dll: the named-item store's in-process server. It loads the language library beside
// itself for its error texts and refuses to load without it.
#include "LanguageLibrary.h"
#include "Registrar.h"
#include "ServerRegistration.h"

using namespace tv::com;

namespace {

HMODULE g_module = nullptr;
HMODULE g_language = nullptr;

const DllServer& Server() {
    static const DllServer server = [] {
        ClassInfo info;
        info.clsid = &CLSID_ZvRegistrar;
        info.description = L"ZvRegistrar Class";
        info.progId = L"Tavrilon.ZvRegistrar.1";
        info.versionIndependentProgId = L"Tavrilon.ZvRegistrar";
        info.threadingModel = L"Apartment";
        info.typeLib = &LIBID_ZVREGISTRARLib;
        info.programmable = true;
        info.createClassObject = registrar::CreateSharedRegistrar;
        return DllServer({info}, true);
    }();
    return server;
}

} // namespace

namespace registrar {
HMODULE LanguageModule() { return g_language; }
} // namespace registrar

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        g_language = tv::LoadLanguageLibrary(instance);
        return g_language != nullptr;
    }
    if (reason == DLL_PROCESS_DETACH && !reserved && g_language) {
        FreeLibrary(g_language);
        g_language = nullptr;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return Server().GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return Server().CanUnloadNow(); }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Server().Register(g_module); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return Server().Unregister(g_module); }
