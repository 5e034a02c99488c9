#include "ServerRegistration.h"
#include "ComPtr.h"
#include "HResult.h"
#include "ModuleLock.h"
#include <oleauto.h>

namespace tv::com {

std::vector<RegKey> InprocClassKeys(const ClassInfo& info) {
    const std::wstring clsid = GuidToString(*info.clsid);
    std::vector<RegKey> keys;

    RegKey classKey{clsid, KeyMode::ForceRemove, {{L"", std::wstring(info.description)}}, {}};
    classKey.subkeys.push_back(
        {L"InprocServer32", KeyMode::Normal,
         {{L"", std::wstring(L"%MODULE%")}, {L"ThreadingModel", std::wstring(info.threadingModel)}}, {}});
    if (info.progId)
        classKey.subkeys.push_back({L"ProgID", KeyMode::Normal, {{L"", std::wstring(info.progId)}}, {}});
    if (info.versionIndependentProgId)
        classKey.subkeys.push_back({L"VersionIndependentProgID", KeyMode::Normal,
                                    {{L"", std::wstring(info.versionIndependentProgId)}}, {}});
    if (info.typeLib)
        classKey.subkeys.push_back({L"TypeLib", KeyMode::Normal, {{L"", GuidToString(*info.typeLib)}}, {}});
    if (info.programmable)
        classKey.subkeys.push_back({L"Programmable", KeyMode::Normal, {}, {}});
    if (info.control)
        classKey.subkeys.push_back({L"Control", KeyMode::Normal, {}, {}});
    keys.push_back({L"CLSID", KeyMode::NoRemove, {}, {std::move(classKey)}});

    if (info.progId) {
        keys.push_back({info.progId, KeyMode::ForceRemove,
                        {{L"", std::wstring(info.description)}},
                        {{L"CLSID", KeyMode::Normal, {{L"", clsid}}, {}}}});
    }
    if (info.versionIndependentProgId) {
        RegKey vi{info.versionIndependentProgId, KeyMode::ForceRemove, {{L"", std::wstring(info.description)}},
                  {{L"CLSID", KeyMode::Normal, {{L"", clsid}}, {}}}};
        if (info.progId)
            vi.subkeys.push_back({L"CurVer", KeyMode::Normal, {{L"", std::wstring(info.progId)}}, {}});
        keys.push_back(std::move(vi));
    }
    return keys;
}

namespace {

HRESULT CreateCategoryRegistrar(ComPtr<ICatRegister>& registrar) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&registrar));
}

std::vector<CATID> CategoryIds(const ClassInfo& info) {
    std::vector<CATID> ids;
    for (const CategoryInfo& category : info.categories)
        ids.push_back(category.id);
    return ids;
}

} // namespace

HRESULT RegisterClassCategories(const ClassInfo& info) {
    if (info.categories.empty())
        return S_OK;
    ComPtr<ICatRegister> registrar;
    TV_RETURN_IF_FAILED(CreateCategoryRegistrar(registrar));
    for (const CategoryInfo& category : info.categories) {
        CATEGORYINFO record{};
        record.catid = category.id;
        record.lcid = 0x409;
        lstrcpynW(record.szDescription, category.description, ARRAYSIZE(record.szDescription));
        TV_RETURN_IF_FAILED(registrar->RegisterCategories(1, &record));
    }
    std::vector<CATID> ids = CategoryIds(info);
    return registrar->RegisterClassImplCategories(*info.clsid, static_cast<ULONG>(ids.size()), ids.data());
}

HRESULT UnregisterClassCategories(const ClassInfo& info) {
    if (info.categories.empty())
        return S_OK;
    ComPtr<ICatRegister> registrar;
    TV_RETURN_IF_FAILED(CreateCategoryRegistrar(registrar));
    std::vector<CATID> ids = CategoryIds(info);
    // The class key may already be gone; a missing key is not a failure here.
    registrar->UnRegisterClassImplCategories(*info.clsid, static_cast<ULONG>(ids.size()), ids.data());
    return S_OK;
}

HRESULT RegisterModuleTypeLib(HMODULE module) {
    const std::wstring path = ModulePath(module);
    if (path.empty())
        return LastErrorHResult();
    ComPtr<ITypeLib> library;
    TV_RETURN_IF_FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
    std::wstring mutablePath = path;
    return RegisterTypeLib(library.Get(), mutablePath.data(), nullptr);
}

HRESULT UnregisterModuleTypeLib(HMODULE module) {
    const std::wstring path = ModulePath(module);
    if (path.empty())
        return LastErrorHResult();
    ComPtr<ITypeLib> library;
    TV_RETURN_IF_FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
    TLIBATTR* attr = nullptr;
    TV_RETURN_IF_FAILED(library->GetLibAttr(&attr));
    HRESULT hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    library->ReleaseTLibAttr(attr);
    return hr == TYPE_E_REGISTRYACCESS ? S_OK : hr;
}

DllServer::DllServer(std::vector<ClassInfo> classes, bool hasTypeLib)
    : classes_(std::move(classes)), hasTypeLib_(hasTypeLib) {}

HRESULT DllServer::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (const ClassInfo& info : classes_) {
        if (IsEqualCLSID(clsid, *info.clsid) && info.createClassObject)
            return info.createClassObject(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT DllServer::CanUnloadNow() const { return ModuleLock::Count() == 0 ? S_OK : S_FALSE; }

RegistryScript DllServer::Script(HMODULE module) const {
    std::vector<RegKey> keys;
    for (const ClassInfo& info : classes_) {
        auto classKeys = InprocClassKeys(info);
        keys.insert(keys.end(), std::make_move_iterator(classKeys.begin()), std::make_move_iterator(classKeys.end()));
    }
    return RegistryScript(HKEY_CLASSES_ROOT, std::move(keys), {{L"%MODULE%", ModulePath(module)}});
}

HRESULT DllServer::Register(HMODULE module) const {
    TV_RETURN_IF_FAILED(Script(module).Register());
    if (hasTypeLib_)
        TV_RETURN_IF_FAILED(RegisterModuleTypeLib(module));
    for (const ClassInfo& info : classes_)
        TV_RETURN_IF_FAILED(RegisterClassCategories(info));
    return S_OK;
}

HRESULT DllServer::Unregister(HMODULE module) const {
    for (const ClassInfo& info : classes_)
        UnregisterClassCategories(info);
    if (hasTypeLib_)
        UnregisterModuleTypeLib(module);
    return Script(module).Unregister();
}

} // namespace tv::com
