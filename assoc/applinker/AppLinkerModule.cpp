// The DLL face of the application installer: its class in the association handler category,
// its type library, and the binding of ".app" to the program.
#include "ClassFactory.h"
#include "DllModule.h"
#include "HResult.h"
#include "InstallerCommon.h"
#include "LangIds.h"
#include "ZvAppLinker.h"

namespace {

using namespace tv;

class AppLinkerClassFactory : public com::ComObject<AppLinkerClassFactory, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<applinker::ZvAppLinker>(riid, ppv, dll::ThisModule(), dll::LanguageLibrary());
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

HRESULT CreateAppLinkerClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<AppLinkerClassFactory>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {com::ClassInfo{.clsid = &CLSID_ZvAppLinker,
                        .description = L"ZvAppLinker Class",
                        .progId = L"Tavrilon.ZvAppLinker.1",
                        .versionIndependentProgId = L"Tavrilon.ZvAppLinker",
                        .threadingModel = L"Apartment",
                        .typeLib = &LIBID_AppLinkerLib,
                        .categories = {{__uuidof(IZvAssociation), L"Tavrilon file associations"}},
                        .createClassObject = CreateAppLinkerClassObject}},
        true);
    return server;
}

} // namespace

TV_DLL_MAIN(Required)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

STDAPI DllRegisterServer() {
    TV_RETURN_IF_FAILED(Server().Register(dll::ThisModule()));
    const assoc::Association type =
        assoc::HandlerAssociation(dll::ThisModule(), dll::LanguageLibrary(), IDS_APP_DESCRIPTION, ".app");
    return FAILED(assoc::RegisterHandlerAssociation(type)) ? E_FAIL : S_OK;
}

STDAPI DllUnregisterServer() {
    const HRESULT classes = Server().Unregister(dll::ThisModule());
    const HRESULT keys = assoc::UnregisterHandlerAssociation(".app");
    return FAILED(classes) ? classes : keys;
}
