// The DLL face of the association manager: class object, self-registration and the language
// library loaded beside the DLL.
#include "AssocManager.h"
#include "ClassFactory.h"
#include "Handles.h"
#include "LanguageLibrary.h"
#include "ServerRegistration.h"

namespace {

using namespace tv;

HMODULE g_module = nullptr;
com::UniqueModule g_languageLibrary;

class AssocClassFactory : public com::ComObject<AssocClassFactory, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<assoc::AssocManager>(riid, ppv, g_languageLibrary.Get());
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

HRESULT CreateAssocClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<AssocClassFactory>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvAssocMgr,
                                                       .description = L"ZvAssocMgr Class",
                                                       .threadingModel = L"Both",
                                                       .categories = {},
                                                       .createClassObject = CreateAssocClassObject}},
                                       false);
    return server;
}

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
