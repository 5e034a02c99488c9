// tvregtest.dll: an in-process server with one class, two ProgIDs and one component category,
// registered and removed through the toolkit's DllServer. Its object answers IPersist with its
// own CLSID, so that a client can tell it was really this class that was made.
#include "ClassFactory.h"
#include "RegTestIds.h"
#include "ServerRegistration.h"

using namespace tv::com;
using namespace tv::tests;

namespace {

HMODULE g_module = nullptr;

class RegTestObject : public ComObject<RegTestObject, IPersist> {
  public:
    STDMETHODIMP GetClassID(CLSID* id) override {
        if (!id)
            return E_POINTER;
        *id = CLSID_RegTest;
        return S_OK;
    }
};

HRESULT CreateRegTestClassObject(REFIID riid, void** ppv) {
    return CreateComObject<ClassFactory<RegTestObject>>(riid, ppv);
}

const DllServer& Server() {
    static const DllServer server = [] {
        ClassInfo info;
        info.clsid = &CLSID_RegTest;
        info.description = L"Tavrilon registration test";
        info.progId = kRegTestProgId;
        info.versionIndependentProgId = kRegTestVersionIndependentProgId;
        info.categories = {{CATID_RegTest, L"Tavrilon registration test category"}};
        info.createClassObject = CreateRegTestClassObject;
        return DllServer({info}, false);
    }();
    return server;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return Server().GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return Server().CanUnloadNow();
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return Server().Register(g_module);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return Server().Unregister(g_module);
}
