// The DLL face of the package installer: its class in the association handler category, its
// type library, and the binding of ".cap" to the program.
#include "ClassFactory.h"
#include "DllModule.h"
#include "InstallerCommon.h"
#include "LangIds.h"
#include "ZvCapLinker.h"

namespace {

using namespace tv;

class CapLinkerClassFactory : public com::ComObject<CapLinkerClassFactory, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<caplinker::ZvCapLinker>(riid, ppv, dll::ThisModule(), dll::LanguageLibrary());
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

HRESULT CreateCapLinkerClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<CapLinkerClassFactory>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {com::ClassInfo{.clsid = &CLSID_ZvCapLinker,
                        .description = L"ZvCapLinker Class",
                        .progId = L"Tavrilon.ZvCapLinker.1",
                        .versionIndependentProgId = L"Tavrilon.ZvCapLinker",
                        .threadingModel = L"Apartment",
                        .typeLib = &LIBID_CapLinkerLib,
                        .categories = {{__uuidof(IZvAssociation), L"Tavrilon file associations"}},
                        .createClassObject = CreateCapLinkerClassObject}},
        true);
    return server;
}

} // namespace

TV_DLL_MAIN(Required)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

STDAPI DllRegisterServer() {
    TV_RETURN_IF_FAILED(Server().Register(dll::ThisModule()));
    const assoc::Association type =
        assoc::HandlerAssociation(dll::ThisModule(), dll::LanguageLibrary(), IDS_CAP_DESCRIPTION, ".cap");
    return FAILED(assoc::RegisterHandlerAssociation(type)) ? E_FAIL : S_OK;
}

STDAPI DllUnregisterServer() {
    const HRESULT classes = Server().Unregister(dll::ThisModule());
    const HRESULT keys = assoc::UnregisterHandlerAssociation(".cap");
    return FAILED(classes) ? classes : keys;
}
