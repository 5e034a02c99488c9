// What the DLL faces of the two installers share: the class object of a handler, its class in
// the association handler category, and the binding of its extension to the program on
// registration.
#pragma once
#include "ClassFactory.h"
#include "DllModule.h"
#include "InstallerCommon.h"

namespace tv::assoc {

template <class Handler>
class HandlerClassFactory : public com::ComObject<HandlerClassFactory<Handler>, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<Handler>(riid, ppv, dll::ThisModule(), dll::LanguageLibrary());
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

template <class Handler>
HRESULT CreateHandlerClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<HandlerClassFactory<Handler>>(riid, ppv);
}

// An apartment-threaded handler class with its type library, in the handler category.
template <class Handler>
com::ClassInfo HandlerClassInfo(const CLSID* clsid, const wchar_t* description, const wchar_t* progId,
                                const wchar_t* versionIndependentProgId, const GUID* typeLib) {
    return com::ClassInfo{.clsid = clsid,
                          .description = description,
                          .progId = progId,
                          .versionIndependentProgId = versionIndependentProgId,
                          .threadingModel = L"Apartment",
                          .typeLib = typeLib,
                          .categories = {{__uuidof(IZvAssociation), L"Tavrilon file associations"}},
                          .createClassObject = CreateHandlerClassObject<Handler>};
}

// The class and type library, then the extension's keys; E_FAIL when the keys cannot be written.
inline HRESULT RegisterHandlerServer(const com::DllServer& server, UINT descriptionId, const char* extension) {
    TV_RETURN_IF_FAILED(server.Register(dll::ThisModule()));
    const Association type = HandlerAssociation(dll::ThisModule(), dll::LanguageLibrary(), descriptionId, extension);
    return FAILED(RegisterHandlerAssociation(type)) ? E_FAIL : S_OK;
}

// The class and type library, then only our own keys of the extension.
inline HRESULT UnregisterHandlerServer(const com::DllServer& server, const char* extension) {
    const HRESULT classes = server.Unregister(dll::ThisModule());
    const HRESULT keys = UnregisterHandlerAssociation(extension);
    return FAILED(classes) ? classes : keys;
}

} // namespace tv::assoc
