// Zelvan15.dll: the in-process server of the 1.5 generation's device link.
#include "ClassFactory.h"
#include "ServerRegistration.h"
#include "Zelvan15Classes.h"
#include "ZvPort15.h"

namespace {

HMODULE thisModule = nullptr;

HRESULT CreatePortClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<devlink15::ZvPort15>>(riid, ppv);
}

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {tv::com::ClassInfo{.clsid = &devlink15::kClsidZvPort15,
                            .description = L"ZvPort15 Class",
                            .progId = L"Tavrilon.ZvPort15.1",
                            .versionIndependentProgId = L"Tavrilon.ZvPort15",
                            .threadingModel = L"Apartment",
                            .categories = {},
                            .createClassObject = &CreatePortClassObject}},
        false);
    return server;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return Server().GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return Server().CanUnloadNow();
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    return Server().Register(thisModule);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return Server().Unregister(thisModule);
}
