// The DLL face of the application installer: its class in the association handler category,
// its type library, and the binding of ".app" to the program.
#include "HandlerModule.h"
#include "LangIds.h"
#include "ZvAppLinker.h"

namespace {

using namespace tv;

const com::DllServer& Server() {
    static const com::DllServer server(
        {assoc::HandlerClassInfo<applinker::ZvAppLinker>(&CLSID_ZvAppLinker, L"ZvAppLinker Class",
                                                          L"Tavrilon.ZvAppLinker.1", L"Tavrilon.ZvAppLinker",
                                                          &LIBID_AppLinkerLib)},
        true);
    return server;
}

} // namespace

TV_DLL_MAIN(Required)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

STDAPI DllRegisterServer() { return assoc::RegisterHandlerServer(Server(), IDS_APP_DESCRIPTION, ".app"); }

STDAPI DllUnregisterServer() { return assoc::UnregisterHandlerServer(Server(), ".app"); }
