// Zvl10.dll: the in-process server of the 1.0 generation's device factory.
#include "ClassFactory.h"
#include "DllModule.h"
#include "Pages10.h"
#include "ServerRegistration.h"
#include "SharedInstance.h"
#include "ZvDevice10.h"
#include "ZvFactory10.h"

namespace {

// The devices' factory category; the hub finds its factories through it.
constexpr CATID kCatidZelvanDevices = {0x689d87b0, 0x0ed4, 0x40f4, {0x9e, 0x7e, 0xc6, 0x2f, 0x57, 0xe3, 0x69, 0xa8}};

tv::com::SharedInstance<devlink10::ZvFactory10> factorySlot;

HRESULT CreateFactoryClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::SharedInstanceFactory<devlink10::ZvFactory10>>(riid, ppv, factorySlot);
}

template <class Page>
HRESULT CreatePageClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<Page>>(riid, ppv);
}

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {tv::com::ClassInfo{.clsid = &devlink10::kClsidZvFactory10,
                            .description = L"ZvFactory10 Class",
                            .progId = L"Tavrilon.ZvFactory10.1",
                            .versionIndependentProgId = L"Tavrilon.ZvFactory10",
                            .threadingModel = L"Apartment",
                            .categories = {{kCatidZelvanDevices, L"Zelvan Devices"}},
                            .createClassObject = &CreateFactoryClassObject},
         // The item property pages the device objects name.
         tv::com::ClassInfo{.clsid = &devlink10::kClsidFilePropPage10,
                            .description = L"ZvFilePropPage10 Class",
                            .progId = L"Tavrilon.ZvFilePropPage10.1",
                            .threadingModel = L"Apartment",
                            .categories = {},
                            .createClassObject = &CreatePageClassObject<devlink10::ZvFilePropPage10>},
         tv::com::ClassInfo{.clsid = &devlink10::kClsidMediaPropPage10,
                            .description = L"ZvMediaPropPage10 Class",
                            .progId = L"Tavrilon.ZvMediaPropPage10.1",
                            .threadingModel = L"Apartment",
                            .categories = {},
                            .createClassObject = &CreatePageClassObject<devlink10::ZvMediaPropPage10>}},
        false);
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
