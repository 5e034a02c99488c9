// The DLL server of the script-hosted synchronizers: each class made with its own script item and
// icon, registered apartment threaded in the category of synchronizers; each may be made inside
// an outer object.
#pragma once
#include "ClassFactory.h"
#include "ScriptSynchronizer.h"
#include "ServerRegistration.h"
#include "SynchronizerClass.h"

namespace tv::scriptsync {

// A script-hosted class may be made inside an outer object.
template <const ScriptSyncClass& Kind>
using ScriptSyncFactory = com::KindClassFactory<ScriptSynchronizer, Kind, com::Aggregation::Accepted>;

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
    return com::CreateClassObjectOf<ScriptSyncFactory<Kind>>(riid, ppv);
}

inline com::ClassInfo ScriptSyncClassInfo(const ScriptSyncRegistration& entry, const GUID& typeLib) {
    return SynchronizerClassInfo(*entry.clsid, entry.description, entry.progId, entry.independentId, typeLib,
                                 entry.createClassObject);
}

} // namespace tv::scriptsync
