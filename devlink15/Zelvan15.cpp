// Zelvan15.dll: the in-process server of the 1.5 generation's device link.
#include "ClassFactory.h"
#include "DllModule.h"
#include "ServerRegistration.h"
#include "Zelvan15Classes.h"
#include "ZvFactory15.h"
#include "ZvFactory15Me.h"
#include "ZvPort15.h"
#include "Pages15.h"

namespace {

HRESULT CreatePortClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<devlink15::ZvPort15>>(riid, ppv);
}

// The factories keep one object per process: the hub and every later creation get the same one.
// Their class objects live for the rest of the process (the object owns a window and threads).
template <class Factory>
HRESULT CreateFactoryClassObject(REFIID riid, void** ppv) {
    using ClassObject = tv::com::SingletonClassFactory<Factory, tv::com::NoModuleLock>;
    static ClassObject* const classObject = [] {
        tv::com::ComPtr<ClassObject> made;
        tv::com::MakeComObject(made);
        return made.Detach();
    }();
    if (!classObject)
        return E_OUTOFMEMORY;
    return classObject->QueryInterface(riid, ppv);
}

template <class Page>
HRESULT CreatePageClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<Page>>(riid, ppv);
}

tv::com::ClassInfo PageClass(const CLSID* clsid, const wchar_t* description, const wchar_t* progId,
                             const wchar_t* versionIndependentProgId, HRESULT (*create)(REFIID, void**)) {
    return tv::com::ClassInfo{.clsid = clsid,
                              .description = description,
                              .progId = progId,
                              .versionIndependentProgId = versionIndependentProgId,
                              .threadingModel = L"Apartment",
                              .typeLib = &devlink15::kLibidZelvan15,
                              .categories = {},
                              .createClassObject = create};
}

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {tv::com::ClassInfo{.clsid = &devlink15::kClsidZvPort15,
                            .description = L"ZvPort15 Class",
                            .progId = L"Tavrilon.ZvPort15.1",
                            .versionIndependentProgId = L"Tavrilon.ZvPort15",
                            .threadingModel = L"Apartment",
                            .categories = {},
                            .createClassObject = &CreatePortClassObject},
         tv::com::ClassInfo{.clsid = &devlink15::kClsidZvFactory15,
                            .description = L"ZvFactory15 Class",
                            .progId = L"Tavrilon.ZvFactory15.1",
                            .versionIndependentProgId = L"Tavrilon.ZvFactory15",
                            .threadingModel = L"Apartment",
                            .typeLib = &devlink15::kLibidZelvan15,
                            .categories = {{devlink15::kCatidDeviceFactories, L"Zelvan Devices"}},
                            .createClassObject = &CreateFactoryClassObject<devlink15::ZvFactory15>},
         tv::com::ClassInfo{.clsid = &devlink15::kClsidZvFactory15Me,
                            .description = L"ZvFactory15Me Class",
                            .progId = L"Tavrilon.ZvFactory15Me.1",
                            .versionIndependentProgId = L"Tavrilon.ZvFactory15Me",
                            .threadingModel = L"Apartment",
                            .typeLib = &devlink15::kLibidZelvan15,
                            .categories = {{devlink15::kCatidDeviceFactories, L"Zelvan Devices"}},
                            .createClassObject = &CreateFactoryClassObject<devlink15::ZvFactory15Me>},
         PageClass(&devlink15::kClsidZvFilePropPage15, L"ZvFilePropPage15 Class", L"Tavrilon.ZvFilePropPage15.1",
                   L"Tavrilon.ZvFilePropPage15", &CreatePageClassObject<devlink15::ZvFilePropPage15>),
         PageClass(&devlink15::kClsidZvFolderPropPage15, L"ZvFolderPropPage15 Class",
                   L"Tavrilon.ZvFolderPropPage15.1", L"Tavrilon.ZvFolderPropPage15",
                   &CreatePageClassObject<devlink15::ZvFolderPropPage15>),
         PageClass(&devlink15::kClsidZvMediaPropPage15, L"ZvMediaPropPage15 Class", L"Tavrilon.ZvMediaPropPage15.1",
                   L"Tavrilon.ZvMediaPropPage15", &CreatePageClassObject<devlink15::ZvMediaPropPage15>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
