#include "Registration.h"
#include "Handles.h"
#include "HResult.h"
#include "ServerRegistration.h"
#include "ShellNsIds.h"
#include <shlobj.h>

namespace tv::shellns {
namespace {

const wchar_t kTitle[] = L"My Zelvan";
const wchar_t kInfoTip[] = L"Display the files and folders on your Zelvan computer";
const wchar_t kRemovalMessage[] = L"Be carefull removing this stuff";

com::ClassInfo FolderClassInfo() {
    return com::ClassInfo{.clsid = &CLSID_ZelvanNS,
                          .description = kTitle,
                          .progId = L"Tavrilon.ZelvanNS.1",
                          .versionIndependentProgId = L"Tavrilon.ZelvanNS",
                          .threadingModel = L"Apartment",
                          .categories = {}};
}

} // namespace

com::RegistryScript ClassesScript(HMODULE module) {
    std::vector<com::RegKey> keys = com::InprocClassKeys(FolderClassInfo());
    // The class key is the one ForceRemove key below "CLSID".
    com::RegKey& classKey = keys.front().subkeys.front();
    classKey.values.push_back({L"InfoTip", std::wstring(kInfoTip)});
    // SFGAO_FOLDER | SFGAO_HASSUBFOLDER, stored as the shell reads it: four bytes.
    classKey.subkeys.push_back(
        {L"ShellFolder", com::KeyMode::Normal, {{L"Attributes", com::RegBinary{0x00, 0x00, 0x00, 0xA0}}}, {}});
    classKey.subkeys.push_back({L"DefaultIcon", com::KeyMode::Normal, {{L"", std::wstring(L"%MODULE%,0")}}, {}});
    return com::RegistryScript(HKEY_CLASSES_ROOT, std::move(keys), {{L"%MODULE%", com::ModulePath(module)}});
}

com::RegistryScript MachineScript() {
    const std::wstring clsid = com::GuidToString(CLSID_ZelvanNS);
    std::vector<com::RegKey> keys = {
        {L"Software\\Microsoft\\Windows\\CurrentVersion", com::KeyMode::NoRemove, {},
         {{L"Shell Extensions\\Approved", com::KeyMode::NoRemove, {{clsid, std::wstring(kTitle)}}, {}},
          {L"Explorer\\MyComputer\\NameSpace", com::KeyMode::NoRemove, {},
           {{clsid, com::KeyMode::ForceRemove,
             {{L"", std::wstring(kTitle)}, {L"Removal Message", std::wstring(kRemovalMessage)}}, {}}}}}}};
    return com::RegistryScript(HKEY_LOCAL_MACHINE, std::move(keys));
}

HRESULT RegisterFolder(HMODULE module) {
    TV_RETURN_IF_FAILED(ClassesScript(module).Register());
    TV_RETURN_IF_FAILED(MachineScript().Register());
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return S_OK;
}

HRESULT UnregisterFolder(HMODULE module) {
    HRESULT machine = MachineScript().Unregister();
    HRESULT classes = ClassesScript(module).Unregister();
    // The approval is a value in a shared key: remove it by name.
    com::UniqueHKey approved;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                      0, KEY_SET_VALUE, approved.Put()) == ERROR_SUCCESS)
        RegDeleteValueW(approved.Get(), com::GuidToString(CLSID_ZelvanNS).c_str());
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return FAILED(classes) ? classes : machine;
}

} // namespace tv::shellns
