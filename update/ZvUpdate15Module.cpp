// ZvUpdate15.dll: the class objects of the image loader, its callback class and the update
// wizard, their self-registration with the embedded type library, and the language library that
// holds every window, text, icon and animation they show.
#include "ClassFactory.h"
#include "DllModule.h"
#include "UpdateLoader.h"
#include "UpdateWizardObject.h"

namespace {

using namespace tv;

template <class T>
HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<T>>(riid, ppv);
}

com::ClassInfo UpdateClass(const CLSID* clsid, const wchar_t* description, const wchar_t* progId,
                           const wchar_t* versionIndependentProgId, HRESULT (*create)(REFIID, void**)) {
    return com::ClassInfo{.clsid = clsid,
                          .description = description,
                          .progId = progId,
                          .versionIndependentProgId = versionIndependentProgId,
                          .threadingModel = L"Apartment",
                          .typeLib = &LIBID_ZVUPDATE15Lib,
                          .programmable = true,
                          .categories = {},
                          .createClassObject = create};
}

const com::DllServer& Server() {
    static const com::DllServer server(
        {UpdateClass(&CLSID_ZvUpdate15Callback, L"ZvUpdate15Callback Class", L"Tavrilon.ZvUpdate15Callback.1",
                     L"Tavrilon.ZvUpdate15Callback", CreateClassObject<update::ZvUpdate15CallbackObject>),
         UpdateClass(&CLSID_ZvUpdate15UI, L"ZvUpdate15UI Class", L"Tavrilon.ZvUpdate15UI.1", L"Tavrilon.ZvUpdate15UI",
                     CreateClassObject<update::ZvUpdate15UIObject>),
         UpdateClass(&CLSID_ZvUpdate15, L"ZvUpdate15 Class", L"Tavrilon.ZvUpdate15.1", L"Tavrilon.ZvUpdate15",
                     CreateClassObject<update::ZvUpdate15Object>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
