// ZelvanNS.dll: the Explorer folder "My Zelvan". Its one class is the folder; views, drop
// targets and data objects are made by the folder.
#include "ClassFactory.h"
#include "DllModule.h"
#include "Registration.h"
#include "ZelvanFolder.h"

namespace {

using namespace tv;

HRESULT CreateFolderClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<shellns::ZelvanFolder>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &shellns::CLSID_ZelvanNS,
                                                       .description = L"My Zelvan",
                                                       .categories = {},
                                                       .createClassObject = CreateFolderClassObject}},
                                       false);
    return server;
}

} // namespace

TV_DLL_MAIN(Required)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

STDAPI DllRegisterServer() { return tv::shellns::RegisterFolder(tv::dll::ThisModule()); }
STDAPI DllUnregisterServer() { return tv::shellns::UnregisterFolder(tv::dll::ThisModule()); }
