// Self-registration of COM servers: class keys (in-process or local server), ProgIDs, type
// libraries embedded as resource TYPELIB 1, and component categories.
#pragma once
#include "RegistryScript.h"
#include <windows.h>
#include <comcat.h>
#include <string>
#include <vector>

namespace tv::com {

struct CategoryInfo {
    CATID id;
    const wchar_t* description;
};

struct ClassInfo {
    const CLSID* clsid = nullptr;
    const wchar_t* description = L"";        // default value of the class key
    const wchar_t* progId = nullptr;         // versioned ProgID, e.g. "Tavrilon.Logger.1"
    const wchar_t* versionIndependentProgId = nullptr;
    const wchar_t* threadingModel = L"Apartment";
    const GUID* typeLib = nullptr;           // written as the TypeLib value when given
    bool programmable = false;
    bool control = false;                    // adds the "Control" key of ActiveX controls
    std::vector<CategoryInfo> categories;    // categories the class implements
    HRESULT (*createClassObject)(REFIID riid, void** ppv) = nullptr;
};

// Registry keys under HKCR of an in-process class served by the module at %MODULE%.
std::vector<RegKey> InprocClassKeys(const ClassInfo& info);

// Registers or removes the implemented categories of a class (registering the categories too).
HRESULT RegisterClassCategories(const ClassInfo& info);
HRESULT UnregisterClassCategories(const ClassInfo& info);

// Registers or removes the type library embedded in a module as TYPELIB resource 1.
HRESULT RegisterModuleTypeLib(HMODULE module);
HRESULT UnregisterModuleTypeLib(HMODULE module);

// Everything a DLL server needs behind its four exports.
class DllServer {
public:
    DllServer(std::vector<ClassInfo> classes, bool hasTypeLib);

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
    HRESULT CanUnloadNow() const;
    HRESULT Register(HMODULE module) const;
    HRESULT Unregister(HMODULE module) const;

    const std::vector<ClassInfo>& Classes() const { return classes_; }

private:
    RegistryScript Script(HMODULE module) const;

    std::vector<ClassInfo> classes_;
    bool hasTypeLib_;
};

} // namespace tv::com
