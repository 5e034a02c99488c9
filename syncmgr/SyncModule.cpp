// The DLL face of the synchronization manager: class object, self-registration and the
// language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "SyncManager.h"

namespace {

using namespace tv;

HRESULT CreateSyncManagerClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<sync::SyncManager>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvSyncMgr,
                                                       .description = L"ZvSyncMgr Class",
                                                       .threadingModel = L"Apartment",
                                                       .categories = {},
                                                       .createClassObject = CreateSyncManagerClassObject}},
                                       false);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
