// ArchiveObject.dll: the package-archive component's in-process server. The archive, package, item
// and header classes can be created; directories are made by the archive only.
#include "CapObjects.h"
#include "ClassFactory.h"
#include "DllModule.h"

using namespace tv::com;
using namespace caparchive::com;

namespace {

class ScriptItem : public ItemObject {
public:
    ScriptItem() : ItemObject(caparchive::kItemKindScript) {}
};

template <class T>
HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return CreateComObject<ClassFactory<T>>(riid, ppv);
}

// The classes are found by CLSID only; they have no ProgIDs.
ClassInfo Class(const CLSID& clsid, const wchar_t* description, HRESULT (*create)(REFIID, void**)) {
    ClassInfo info;
    info.clsid = &clsid;
    info.description = description;
    info.typeLib = &LIBID_CAPARCHIVELib;
    info.createClassObject = create;
    return info;
}

const DllServer& Server() {
    static const DllServer server({
        Class(CLSID_CapArchive, L"CapArchive Class", CreateClassObject<ArchiveObject>),
        Class(CLSID_CapPackage, L"CapPackage Class", CreateClassObject<PackageObject>),
        Class(CLSID_CapFileItem, L"CapFileItem Class", CreateClassObject<ItemObject>),
        Class(CLSID_CapScriptItem, L"CapScriptItem Class", CreateClassObject<ScriptItem>),
        Class(CLSID_CapHeader, L"CapHeader Class", CreateClassObject<HeaderObject>),
    }, true);
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
