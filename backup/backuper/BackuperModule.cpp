// The DLL face of the device backuper: class object, self-registration in the backupers'
// category and the language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "Zelvan1Backuper.h"

namespace {

using namespace tv;

// {22551026-B440-4C3D-B0A6-8B10C388749B}
const CATID kBackupersCategory = {0x22551026, 0xb440, 0x4c3d, {0xb0, 0xa6, 0x8b, 0x10, 0xc3, 0x88, 0x74, 0x9b}};

HRESULT CreateBackuperClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<backup::Zelvan1Backuper>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &backup::CLSID_Zelvan1Backuper,
                                                       .description = L"Zelvan1Backuper Class",
                                                       .progId = L"Tavrilon.Zelvan1Backuper.1",
                                                       .versionIndependentProgId = L"Tavrilon.Zelvan1Backuper",
                                                       .threadingModel = L"Apartment",
                                                       .categories = {{kBackupersCategory, L"ZvBackupers"}},
                                                       .createClassObject = CreateBackuperClassObject}},
                                       false);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
