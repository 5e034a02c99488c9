// The DLL face of the backup manager: the class objects (the manager is one object per
// process), self-registration with the type library and the property-page category, and the
// language library loaded beside the DLL.
#include "BackupManager.h"
#include "BackupProperties.h"
#include "ClassFactory.h"
#include "DllModule.h"

namespace {

using namespace tv;

// {C4AB9394-BD09-417E-A9BC-2802C6FE8174}: providers of device property pages.
const CATID kPropertyProviders = {0xc4ab9394, 0xbd09, 0x417e, {0xa9, 0xbc, 0x28, 0x02, 0xc6, 0xfe, 0x81, 0x74}};
// {A6009C98-CEC2-44E3-B7BB-70DE0FB846B4}
const GUID kTypeLib = {0xa6009c98, 0xcec2, 0x44e3, {0xb7, 0xbb, 0x70, 0xde, 0x0f, 0xb8, 0x46, 0xb4}};

using ManagerFactory = com::SingletonClassFactory<backup::BackupManager>;

HRESULT CreateManagerClassObject(REFIID riid, void** ppv) {
    // One class object for the process, so that every creation hands out the same manager.
    static ManagerFactory* factory = [] {
        com::ComPtr<ManagerFactory> made;
        com::MakeComObject(made);
        return made.Detach();
    }();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

HRESULT CreatePropertiesClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<backup::BackupProperties>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {com::ClassInfo{.clsid = &CLSID_ZvBackupMgr,
                        .description = L"ZvBackupMgr Class",
                        .progId = L"Tavrilon.ZvBackupMgr.1",
                        .versionIndependentProgId = L"Tavrilon.ZvBackupMgr",
                        .threadingModel = L"Apartment",
                        .typeLib = &kTypeLib,
                        .categories = {{kPropertyProviders, L"ZvProperties"}},
                        .createClassObject = CreateManagerClassObject},
         com::ClassInfo{.clsid = &backup::CLSID_ZvBackupProperties,
                        .description = L"ZvBackupProperties Class",
                        .progId = L"Tavrilon.ZvBackupProperties.1",
                        .versionIndependentProgId = L"Tavrilon.ZvBackupProperties",
                        .threadingModel = L"Apartment",
                        .categories = {},
                        .createClassObject = CreatePropertiesClassObject}},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
