// The DLL face of the backup manager: class object, self-registration and the
// language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "BackupManager.h"

namespace {

using namespace tv;

HRESULT CreateBackupManagerClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<backup::BackupManager>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvBackupMgr,
                                                       .description = L"ZvBackupMgr Class",
                                                       .threadingModel = L"Apartment",
                                                       .categories = {},
                                                       .createClassObject = CreateBackupManagerClassObject}},
                                       false);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
