// The DLL face of the synchronization manager: the class objects of the manager and its property
// pages, self-registration (classes, type library and the category of synchronizers) and the
// language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "SyncManager.h"
#include "SyncPages.h"
#include <comcat.h>
#include <utility>
#include <vector>

namespace {

using namespace tv;

// One manager per process: the first creation's outcome, success or failure, holds for good.
HRESULT CreateSyncManagerClassObject(REFIID riid, void** ppv) {
    static com::ComPtr<com::SingletonClassFactory<sync::SyncManager>> factory = [] {
        com::ComPtr<com::SingletonClassFactory<sync::SyncManager>> made;
        com::MakeComObject(made);
        return made;
    }();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

template <class Page> HRESULT CreatePageClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<Page>>(riid, ppv);
}

// The category of the providers of device property pages, in which the manager names its pages.
constexpr CATID kCategoryZvProperties = {
    0xc4ab9394, 0xbd09, 0x417e, {0xa9, 0xbc, 0x28, 0x02, 0xc6, 0xfe, 0x81, 0x74}};

com::ClassInfo ClassOf(const CLSID& clsid, const wchar_t* description, const wchar_t* progId,
                       const wchar_t* versionIndependentProgId, HRESULT (*create)(REFIID, void**),
                       std::vector<com::CategoryInfo> categories = {}) {
    return com::ClassInfo{.clsid = &clsid,
                          .description = description,
                          .progId = progId,
                          .versionIndependentProgId = versionIndependentProgId,
                          .threadingModel = L"Apartment",
                          .typeLib = &LIBID_ZVSYNCLib,
                          .programmable = true,
                          .categories = std::move(categories),
                          .createClassObject = create};
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {ClassOf(CLSID_ZvSyncMgr, L"ZvSyncMgr Class", L"Tavrilon.ZvSyncMgr.1", L"Tavrilon.ZvSyncMgr",
                 CreateSyncManagerClassObject, {{kCategoryZvProperties, L"ZvProperties"}}),
         ClassOf(CLSID_ZvSyncRules, L"ZvSyncRules Class", L"Tavrilon.ZvSyncRules.1", L"Tavrilon.ZvSyncRules",
                 CreatePageClassObject<sync::SyncRulesPage>),
         ClassOf(CLSID_ZvSyncOptions, L"ZvSyncOptions Class", L"Tavrilon.ZvSyncOptions.1",
                 L"Tavrilon.ZvSyncOptions", CreatePageClassObject<sync::SyncOptionsPage>),
         ClassOf(CLSID_DeviceOptns, L"DeviceOptns Class", L"Tavrilon.DeviceOptns.1", L"Tavrilon.DeviceOptns",
                 CreatePageClassObject<sync::DeviceOptionsPage>),
         ClassOf(CLSID_TvlPlus, L"Tvl Plus Class", L"Tavrilon.TvlPlus.1", L"Tavrilon.TvlPlus",
                 CreatePageClassObject<sync::TvlPlusPage>)},
        true);
    return server;
}

HRESULT CategoryRegistrar(com::ComPtr<ICatRegister>& registrar) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                            reinterpret_cast<void**>(&registrar));
}

} // namespace

TV_DLL_MAIN(Required)
TV_DLL_CLASS_OBJECT_EXPORTS(Server)

// Registers the classes and the type library, then the category of synchronizers; the category's
// outcome does not change the result.
STDAPI DllRegisterServer() {
    HRESULT hr = Server().Register(dll::ThisModule());
    com::ComPtr<ICatRegister> registrar;
    if (SUCCEEDED(CategoryRegistrar(registrar))) {
        CATEGORYINFO info = {};
        info.catid = sync::CATID_ZvSynchronizers;
        info.lcid = 1033;
        lstrcpynW(info.szDescription, L"ZvSynchronizers", ARRAYSIZE(info.szDescription));
        registrar->RegisterCategories(1, &info);
    }
    return hr;
}

STDAPI DllUnregisterServer() {
    HRESULT hr = Server().Unregister(dll::ThisModule());
    com::ComPtr<ICatRegister> registrar;
    if (SUCCEEDED(CategoryRegistrar(registrar))) {
        CATID category = sync::CATID_ZvSynchronizers;
        registrar->UnRegisterCategories(1, &category);
    }
    return hr;
}
