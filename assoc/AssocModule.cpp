// The DLL face of the association manager: class object, self-registration and the language
// library loaded beside the DLL.
#include "AssocManager.h"
#include "ClassFactory.h"
#include "DllModule.h"

namespace {

using namespace tv;

class AssocClassFactory : public com::ComObject<AssocClassFactory, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<assoc::AssocManager>(riid, ppv, dll::LanguageLibrary());
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

TV_DLL_SERVER(Required, Server)
