// ZvSyncFiles10.dll: the two file synchronizer classes, their registration (classes, type
// library, the category of synchronizers) and the language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "FileSynchronizer.h"
#include "ZvSyncFiles10.h"

namespace {

using namespace tv;
using Generation = ::filesync::Generation;

constexpr CATID kCategorySynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

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

com::ClassInfo ClassOf(const CLSID& clsid, const wchar_t* description, const wchar_t* progId,
                       const wchar_t* versionIndependentProgId, HRESULT (*create)(REFIID, void**)) {
    return com::ClassInfo{.clsid = &clsid,
                          .description = description,
                          .progId = progId,
                          .versionIndependentProgId = versionIndependentProgId,
                          .threadingModel = L"Apartment",
                          .typeLib = &LIBID_ZVSYNCFILES10Lib,
                          .programmable = false,
                          .categories = {{kCategorySynchronizers, L"ZvSynchronizers"}},
                          .createClassObject = create};
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {ClassOf(CLSID_ZvSyncFiles10, L"ZvSyncFiles10 Class", L"Tavrilon.ZvSyncFiles10.1", L"Tavrilon.ZvSyncFiles10",
                 CreateClassObject<Generation::V10>),
         ClassOf(CLSID_ZvSyncFiles15, L"ZvSyncFiles15 Class", L"Tavrilon.ZvSyncFiles15.1", L"Tavrilon.ZvSyncFiles15",
                 CreateClassObject<Generation::V15>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
