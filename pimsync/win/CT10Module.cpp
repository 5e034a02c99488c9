// ZvSyncCT10.dll: the contacts and the tasks synchronizer of 1.0 devices, their registration
// (classes, type library, the category of synchronizers) and the language library beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "PimSynchronizer.h"
#include "ZvSyncCT10.h"

namespace {

using namespace tv;
namespace pim = tv::pimsync;

constexpr CATID kCategorySynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

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

com::ClassInfo ClassOf(const CLSID& clsid, const wchar_t* description, const wchar_t* progId,
                       const wchar_t* versionIndependentProgId, HRESULT (*create)(REFIID, void**)) {
    return com::ClassInfo{.clsid = &clsid,
                          .description = description,
                          .progId = progId,
                          .versionIndependentProgId = versionIndependentProgId,
                          .threadingModel = L"Apartment",
                          .typeLib = &LIBID_ZVSYNCCT10Lib,
                          .programmable = false,
                          .categories = {{kCategorySynchronizers, L"ZvSynchronizers"}},
                          .createClassObject = create};
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {ClassOf(CLSID_ZvSyncContacts10, L"ZvSyncContacts10 Class", L"Tavrilon.ZvSyncContacts10.1",
                 L"Tavrilon.ZvSyncContacts10", CreateClassObject<pim::kContactsKind>),
         ClassOf(CLSID_ZvSyncTasks10, L"ZvSyncTasks10 Class", L"Tavrilon.ZvSyncTasks10.1", L"Tavrilon.ZvSyncTasks10",
                 CreateClassObject<pim::kTasksKind>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
