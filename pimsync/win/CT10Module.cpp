// ZvSyncCT10.dll: the contacts and the tasks synchronizer of 1.0 devices, their registration
// (classes, type library, the category of synchronizers) and the language library beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "SynchronizerClass.h"
#include "PimSynchronizer.h"
#include "ZvSyncCT10.h"

namespace {

using namespace tv;
namespace pim = tv::pimsync;

template <const pim::SyncKind& Kind>
class SynchronizerFactory : public com::ComObjectImpl<SynchronizerFactory<Kind>, IClassFactory>,
                            private com::ModuleLockHolder<true> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<pim::PimSynchronizer>(riid, ppv, Kind);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

template <const pim::SyncKind& Kind>
HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<SynchronizerFactory<Kind>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {SynchronizerClassInfo(CLSID_ZvSyncContacts10, L"ZvSyncContacts10 Class", L"Tavrilon.ZvSyncContacts10.1",
                               L"Tavrilon.ZvSyncContacts10", LIBID_ZVSYNCCT10Lib, CreateClassObject<pim::kContactsKind>),
         SynchronizerClassInfo(CLSID_ZvSyncTasks10, L"ZvSyncTasks10 Class", L"Tavrilon.ZvSyncTasks10.1",
                               L"Tavrilon.ZvSyncTasks10", LIBID_ZVSYNCCT10Lib, CreateClassObject<pim::kTasksKind>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
