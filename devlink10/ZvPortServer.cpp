// ZvPort.dll: the in-process server of the 1.0 generation's serial port ("ZvPort.ZvPortCOM").
#include "ClassFactory.h"
#include "ServerRegistration.h"
#include "ZvPortCOM.h"

namespace {

HMODULE thisModule = nullptr;

HRESULT CreatePortClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<devlink10::ZvPortCOM>>(riid, ppv);
}

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {tv::com::ClassInfo{.clsid = &devlink10::kClsidZvPortCOM,
                            .description = L"ZvPortCOM Class",
                            .progId = L"ZvPort.ZvPortCOM.1",
                            .versionIndependentProgId = L"ZvPort.ZvPortCOM",
                            .threadingModel = L"Apartment",
                            .typeLib = &LIBID_ZvPortLib,
                            .programmable = true,
                            .categories = {},
                            .createClassObject = &CreatePortClassObject}},
        true);
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
