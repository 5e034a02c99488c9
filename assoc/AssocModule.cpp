// The DLL face of the association manager: one manager per process, made and initialised by
// the first creation; a failed initialisation is answered to every later creation.
#include "AssocManager.h"
#include "ClassFactory.h"
#include "DllModule.h"
#include <mutex>

namespace {

using namespace tv;

com::SharedInstance<assoc::AssocManager> g_manager;
std::mutex g_failureLock;
HRESULT g_failure = S_OK;

class AssocClassFactory : public com::ComObject<AssocClassFactory, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        std::lock_guard<std::mutex> guard(g_failureLock);
        if (FAILED(g_failure))
            return g_failure;
        const HRESULT hr = g_manager.GetOrCreate(riid, ppv, dll::LanguageLibrary(), nullptr);
        if (FAILED(hr) && hr != E_NOINTERFACE)
            g_failure = hr;
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

HRESULT CreateAssocClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<AssocClassFactory>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvAssocMgr,
                                                       .description = L"AssocMgr Class",
                                                       .progId = L"Tavrilon.AssocMgr.1",
                                                       .versionIndependentProgId = L"Tavrilon.AssocMgr",
                                                       .threadingModel = L"Apartment",
                                                       .typeLib = &LIBID_ZvAssocLib,
                                                       .programmable = true,
                                                       .categories = {},
                                                       .createClassObject = CreateAssocClassObject}},
                                       true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
