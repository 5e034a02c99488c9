// The DLL face of the backup manager: class object, self-registration and the
// language library loaded beside the DLL.
#include "ClassFactory.h"
#include "Handles.h"
#include "LanguageLibrary.h"
#include "ServerRegistration.h"
#include "BackupManager.h"

namespace {

using namespace tv;

HRESULT CreateBackupManagerClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<backup::BackupManager>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvBackupMgr,
                                                       .description = L"ZvBackupMgr Class",
                                                       .threadingModel = L"Apartment",
                                                       .categories = {},
                                                       .createClassObject = CreateBackupManagerClassObject}},
                                       false);
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

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) { return Server().GetClassObject(clsid, riid, ppv); }
STDAPI DllCanUnloadNow() { return Server().CanUnloadNow(); }
STDAPI DllRegisterServer() { return Server().Register(g_module); }
STDAPI DllUnregisterServer() { return Server().Unregister(g_module); }
