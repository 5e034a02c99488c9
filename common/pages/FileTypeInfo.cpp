#include "FileTypeInfo.h"
#include "ComPtr.h"
#include "ZvAssocMgr.h"
#include <shellapi.h>

namespace tv::pages {

FileTypeInfo LookUpFileType(const std::string& name) {
    FileTypeInfo type;
    com::ComPtr<IZvAssocMgr> manager;
    if (FAILED(CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_ALL, __uuidof(IZvAssocMgr),
                                reinterpret_cast<void**>(&manager))))
        return type;
    ZVASSOCIATION association = {};
    std::string item = name;
    if (SUCCEEDED(manager->GetAssociation(item.data(), &association))) {
        type.description = association.strDescription ? association.strDescription : "";
        type.iconFile = association.strIconSrc ? association.strIconSrc : "";
        type.iconIndex = association.dwIconIdx;
    }
    CoTaskMemFree(association.strDescription);
    CoTaskMemFree(association.strExtension);
    CoTaskMemFree(association.strIconSrc);
    return type;
}

HICON LoadFileTypeIcon(const FileTypeInfo& type) {
    HICON icon = nullptr;
    if (!type.iconFile.empty() &&
        ExtractIconExA(type.iconFile.c_str(), type.iconIndex, &icon, nullptr, 1) > 0 && icon)
        return icon;
    if (ExtractIconExA("shell32.dll", 0, &icon, nullptr, 1) > 0 && icon)
        return icon;
    return nullptr;
}

} // namespace tv::pages
