// The DLL server of the script-hosted synchronizers: each class made with its own script item and
// icon, registered apartment threaded in the category of synchronizers.
#pragma once
#include "ClassFactory.h"
#include "ScriptSynchronizer.h"
#include "ServerRegistration.h"
#include "SynchronizerClass.h"

namespace tv::scriptsync {

template <const ScriptSyncClass& Kind>
class ScriptSyncFactory : public com::ComObjectImpl<ScriptSyncFactory<Kind>, IClassFactory>,
                          private com::ModuleLockHolder<true> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(com::CheckCreateRequest(outer, ppv));
        return com::CreateComObject<ScriptSynchronizer>(riid, ppv, Kind);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::LockModule(lock); }
};

// One class: `name` is the class name, which also forms its ProgIDs and description.
struct ScriptSyncRegistration {
    const CLSID* clsid;
    const wchar_t* description;    // name + " Class"
    const wchar_t* progId;         // "Tavrilon." + name + ".1"
    const wchar_t* independentId;  // "Tavrilon." + name
    HRESULT (*createClassObject)(REFIID riid, void** ppv);
};

template <const ScriptSyncClass& Kind>
HRESULT CreateScriptSyncFactory(REFIID riid, void** ppv) {
    return com::CreateComObject<ScriptSyncFactory<Kind>>(riid, ppv);
}

inline com::ClassInfo ScriptSyncClassInfo(const ScriptSyncRegistration& entry, const GUID& typeLib) {
    return SynchronizerClassInfo(*entry.clsid, entry.description, entry.progId, entry.independentId, typeLib,
                                 entry.createClassObject);
}

} // namespace tv::scriptsync
