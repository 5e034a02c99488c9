// ZvRegistrar.dll: the named-item store's in-process server. It loads the language library beside
// itself for its error texts and refuses to load without it.
#include "DllModule.h"
#include "Registrar.h"

using namespace tv::com;

namespace {

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
HMODULE LanguageModule() { return tv::dll::LanguageLibrary(); }
} // namespace registrar

TV_DLL_SERVER(Required, Server)
