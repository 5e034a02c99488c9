#include "NamespaceLink.h"
#include "ComPtr.h"
#include "Handles.h"
#include <cstring>
#include <shlwapi.h>
#include "LangIds.h"

namespace tv {

using com::ComPtr;

namespace {

UINT RegisterMessageNamedBy(HMODULE languageLibrary, UINT stringId) {
    char name[256] = {};
    if (!languageLibrary || LoadStringA(languageLibrary, stringId, name, sizeof(name)) <= 0)
        return 0;
    return RegisterWindowMessageA(name);
}

const SHITEMID* NextItem(const SHITEMID* item) {
    return reinterpret_cast<const SHITEMID*>(reinterpret_cast<const BYTE*>(item) + item->cb);
}

// The name stored in a namespace item, bounded by the item's own byte count.
std::string ItemName(const SHITEMID* item) {
    if (item->cb <= kNamespaceItemNameOffset)
        return {};
    const char* name = reinterpret_cast<const char*>(item) + kNamespaceItemNameOffset;
    const size_t room = item->cb - kNamespaceItemNameOffset;
    return std::string(name, strnlen(name, room));
}

bool DisplayNameIs(IShellFolder* folder, PCUITEMID_CHILD child, const char* expected) {
    STRRET ret{};
    if (FAILED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER, &ret)))
        return false;
    char name[MAX_PATH] = {};
    if (FAILED(StrRetToBufA(&ret, child, name, sizeof(name))))
        return false;
    return std::strcmp(name, expected) == 0;
}

} // namespace

UINT RegisterRefreshMessage(HMODULE languageLibrary) {
    return RegisterMessageNamedBy(languageLibrary, IDS_MSG_REFRESH_VIEWS);
}

UINT RegisterUpdateMessage(HMODULE languageLibrary) {
    return RegisterMessageNamedBy(languageLibrary, IDS_MSG_UPDATE_VIEW);
}

bool IsNamespaceItem(const SHITEMID* item) {
    if (!item || item->cb < 6)
        return false;
    const char* signature = reinterpret_cast<const char*>(item) + 2;
    return std::memcmp(signature, kNamespaceItemSignature, sizeof(kNamespaceItemSignature)) == 0;
}

namespace {

// Enumerates the items (folders and non-folders) of the folder at `folderPidl` and hands each
// to `visit` until it returns true; the result is the absolute list of that item, or null.
template <class Visit>
PIDLIST_ABSOLUTE FindChild(PCIDLIST_ABSOLUTE folderPidl, Visit visit) {
    ComPtr<IShellFolder> desktop, folder;
    ComPtr<IEnumIDList> items;
    if (FAILED(SHGetDesktopFolder(&desktop)) ||
        FAILED(desktop->BindToObject(folderPidl, nullptr, IID_PPV_ARGS(&folder))) ||
        folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &items) != S_OK)
        return nullptr;
    PIDLIST_ABSOLUTE result = nullptr;
    PITEMID_CHILD child = nullptr;
    while (!result && items->Next(1, &child, nullptr) == S_OK) {
        if (visit(folder.Get(), child))
            result = ILCombine(folderPidl, child);
        CoTaskMemFree(child);
    }
    return result;
}

} // namespace

PIDLIST_ABSOLUTE FindMyZelvanPidl() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // repeated calls are harmless
    PIDLIST_ABSOLUTE drives = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives)))
        return nullptr;
    PIDLIST_ABSOLUTE result = FindChild(drives, [](IShellFolder* folder, PCUITEMID_CHILD child) {
        return DisplayNameIs(folder, child, kMyZelvanFolderName);
    });
    CoTaskMemFree(drives);
    return result;
}

PIDLIST_ABSOLUTE FindDeviceFolderPidl(int index) {
    if (index < 0)
        return nullptr;
    PIDLIST_ABSOLUTE root = FindMyZelvanPidl();
    if (!root)
        return nullptr;
    int taken = 0;
    PIDLIST_ABSOLUTE result = FindChild(root, [&taken, index](IShellFolder*, PCUITEMID_CHILD) {
        return taken++ == index;
    });
    CoTaskMemFree(root);
    return result;
}

std::string PidlToPath(PCUIDLIST_RELATIVE list) {
    std::string path;
    if (!list)
        return path;
    for (const SHITEMID* item = &list->mkid; item->cb != 0 && IsNamespaceItem(item); item = NextItem(item)) {
        path += ItemName(item);
        if (NextItem(item)->cb != 0)
            path += '\\';
    }
    return path;
}

std::string PidlToPathSkipping(PCUIDLIST_RELATIVE list) {
    std::string path;
    if (!list)
        return path;
    for (const SHITEMID* item = &list->mkid; item->cb != 0; item = NextItem(item)) {
        if (!IsNamespaceItem(item))
            continue;
        path += ItemName(item);
        if (NextItem(item)->cb != 0)
            path += '\\';
    }
    return path;
}

} // namespace tv
