// ZvSyncFiles10.dll: the two file synchronizer classes, their registration (classes, type
// library, the category of synchronizers) and the language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "SynchronizerClass.h"
#include "FileSynchronizer.h"
#include "ZvSyncFiles10.h"

namespace {

using namespace tv;
using Generation = ::filesync::Generation;

template <Generation G>
class SynchronizerFactory : public com::ComObjectImpl<SynchronizerFactory<G>, IClassFactory>,
                            private com::ModuleLockHolder<true> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<tv::filesync::FileSynchronizer>(riid, ppv, G);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

template <Generation G> HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<SynchronizerFactory<G>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {SynchronizerClassInfo(CLSID_ZvSyncFiles10, L"ZvSyncFiles10 Class", L"Tavrilon.ZvSyncFiles10.1",
                               L"Tavrilon.ZvSyncFiles10", LIBID_ZVSYNCFILES10Lib, CreateClassObject<Generation::V10>),
         SynchronizerClassInfo(CLSID_ZvSyncFiles15, L"ZvSyncFiles15 Class", L"Tavrilon.ZvSyncFiles15.1",
                               L"Tavrilon.ZvSyncFiles15", LIBID_ZVSYNCFILES10Lib, CreateClassObject<Generation::V15>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
