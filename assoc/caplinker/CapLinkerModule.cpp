// The DLL face of the package installer: its class in the association handler category, its
// type library, and the binding of ".cap" to the program.
#include "HandlerModule.h"
#include "LangIds.h"
#include "ZvCapLinker.h"

namespace {

using namespace tv;

const com::DllServer& Server() {
    static const com::DllServer server(
        {assoc::HandlerClassInfo<caplinker::ZvCapLinker>(&CLSID_ZvCapLinker, L"ZvCapLinker Class",
                                                          L"Tavrilon.ZvCapLinker.1", L"Tavrilon.ZvCapLinker",
                                                          &LIBID_CapLinkerLib)},
        true);
    return server;
}

} // namespace

TV_DLL_MAIN(Required)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

STDAPI DllRegisterServer() { return assoc::RegisterHandlerServer(Server(), IDS_CAP_DESCRIPTION, ".cap"); }

STDAPI DllUnregisterServer() { return assoc::UnregisterHandlerServer(Server(), ".cap"); }
