// ZvBZIP.dll entry points: the class object of the compression control and its
// self-registration as an ActiveX control.
#include "ZvBZIPC.h"
#include "BzipMessages.h"
#include "DllModule.h"

namespace tv::bzip {

namespace {

HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<ZvBZIPCFactory>(riid, ppv);
}

com::ClassInfo ControlClassInfo() {
    com::ClassInfo info;
    info.clsid = &CLSID_ZvBZIPC;
    info.description = L"ZvBZIPC Class";
    info.progId = L"Tavrilon.ZvBZIPC.1";
    info.versionIndependentProgId = L"Tavrilon.ZvBZIPC";
    info.threadingModel = L"Apartment";
    info.typeLib = &LIBID_ZVBZIPLib;
    info.programmable = true;
    info.control = true;
    info.createClassObject = CreateClassObject;
    return info;
}

// The class keys with what a control container looks for besides "Control".
std::vector<com::RegKey> ControlKeys(const com::ClassInfo& info) {
    std::vector<com::RegKey> keys = com::InprocClassKeys(info);
    for (com::RegKey& root : keys) {
        if (root.name != L"CLSID")
            continue;
        com::RegKey& classKey = root.subkeys.front();
        classKey.subkeys.push_back({L"Insertable", com::KeyMode::Normal, {}, {}});
        classKey.subkeys.push_back(
            {L"ToolboxBitmap32",
             com::KeyMode::Normal,
             {{L"", std::wstring(L"%MODULE%, ") + std::to_wstring(IDB_ZVBZIPC_TOOLBOX)}},
             {}});
        classKey.subkeys.push_back({L"MiscStatus",
                                    com::KeyMode::Normal,
                                    {{L"", std::wstring(L"0")}},
                                    {{L"1", com::KeyMode::Normal, {{L"", std::wstring(L"132497")}}, {}}}});
        classKey.subkeys.push_back({L"Version", com::KeyMode::Normal, {{L"", std::wstring(L"1.0")}}, {}});
    }
    return keys;
}

com::RegistryScript ControlScript() {
    return com::RegistryScript(HKEY_CLASSES_ROOT, ControlKeys(ControlClassInfo()),
                               {{L"%MODULE%", com::ModulePath(dll::ThisModule())}});
}

const com::DllServer& Server() {
    static const com::DllServer server({ControlClassInfo()}, true);
    return server;
}

} // namespace

HMODULE ThisModule() {
    return dll::ThisModule();
}

} // namespace tv::bzip

using namespace tv::bzip;

TV_DLL_MAIN(NotUsed)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

// Registered as a control: the class keys carry what a control container looks for.
STDAPI DllRegisterServer() {
    HRESULT hr = ControlScript().Register();
    if (FAILED(hr))
        return hr;
    return tv::com::RegisterModuleTypeLib(ThisModule());
}

STDAPI DllUnregisterServer() {
    tv::com::UnregisterModuleTypeLib(ThisModule());
    return ControlScript().Unregister();
}
