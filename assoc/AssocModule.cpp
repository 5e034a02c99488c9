// The DLL face of the association manager: one manager per process, made and initialised by
// the first creation; a failed initialisation is answered to every later creation.
#include "AssocManager.h"
#include "ClassFactory.h"
#include "DllModule.h"

namespace {

using namespace tv;

assoc::AssocManagerCreation g_creation;

HRESULT CreateAssocClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<assoc::AssocManagerFactory>(riid, ppv, g_creation, dll::LanguageLibrary());
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
