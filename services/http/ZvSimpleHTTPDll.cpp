// ZvSimpleHTTP.dll entry points: the class object of the HTTP client and its self-registration.
#include "SimpleHttpClient.h"
#include "ClassFactory.h"
#include "ServerRegistration.h"

namespace tv::http {

namespace {

HMODULE g_module = nullptr;

HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<ZvSimpleHTTP>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({[] {
                                           com::ClassInfo info;
                                           info.clsid = &CLSID_ZvSimpleHTTP;
                                           info.description = L"SimpleHTTP Class";
                                           info.progId = L"Tavrilon.SimpleHTTP.1";
                                           info.versionIndependentProgId = L"Tavrilon.SimpleHTTP";
                                           info.threadingModel = L"Apartment";
                                           info.typeLib = &LIBID_ZVSIMPLEHTTPLib;
                                           info.createClassObject = CreateClassObject;
                                           return info;
                                       }()},
                                       true);
    return server;
}

} // namespace

} // namespace tv::http

using namespace tv::http;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
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
