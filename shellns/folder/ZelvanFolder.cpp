#include "ZelvanFolder.h"
#include "DevicePath.h"
#include "EnumIdList.h"
#include "HResult.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include <shlwapi.h>
#include <cstdio>
#include <cstring>

namespace tv::shellns {
namespace {

constexpr UINT kRenameCommand = 11813;

HRESULT ShortResult(int r) { return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(static_cast<short>(r))); }

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

LPITEMIDLIST CloneOrEmpty(PCUIDLIST_RELATIVE pidl) {
    if (pidl)
        return ILClone(pidl);
    auto* empty = static_cast<LPITEMIDLIST>(CoTaskMemAlloc(sizeof(USHORT)));
    if (empty)
        empty->mkid.cb = 0;
    return empty;
}

// Child of `folder` whose in-folder display name is `name`, as an absolute list with `parent`.
LPITEMIDLIST FindChildNamed(PCIDLIST_ABSOLUTE parent, const char* name) {
    com::ComPtr<IShellFolder> desktop, folder;
    com::ComPtr<IEnumIDList> items;
    if (FAILED(SHGetDesktopFolder(&desktop)) ||
        FAILED(desktop->BindToObject(parent, nullptr, IID_PPV_ARGS(&folder))) ||
        folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &items) != S_OK)
        return nullptr;
    PITEMID_CHILD child = nullptr;
    while (items->Next(1, &child, nullptr) == S_OK) {
        UniquePidl owned(child);
        STRRET ret{};
        char text[MAX_PATH] = {};
        if (SUCCEEDED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER, &ret)) &&
            SUCCEEDED(StrRetToBufA(&ret, child, text, sizeof(text))) && std::strcmp(text, name) == 0)
            return ILCombine(parent, child);
    }
    return nullptr;
}

} // namespace

LPITEMIDLIST FindMyZelvanRoot() {
    LPITEMIDLIST drives = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives)))
        return nullptr;
    UniquePidl owned(drives);
    return FindChildNamed(drives, kMyZelvanName);
}

HRESULT ZelvanFolder::FinalConstruct() {
    globals_ = AcquireGlobals();
    folderPidl_.Reset(CloneOrEmpty(nullptr));
    return folderPidl_ ? S_OK : E_OUTOFMEMORY;
}

void* ZelvanFolder::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IPersist))
        return static_cast<IPersist*>(static_cast<IPersistFolder*>(this));
    return nullptr;
}

HRESULT ZelvanFolder::InitializeAt(PCUIDLIST_RELATIVE pidl, PCIDLIST_ABSOLUTE root) {
    std::string path;
    if (!PidlToDevicePath(pidl, &path))
        return E_INVALIDARG;
    folderPidl_.Reset(CloneOrEmpty(pidl));
    if (!folderPidl_)
        return E_OUTOFMEMORY;
    path_ = std::move(path);
    rootPidl_.Reset(root ? ILClone(root) : nullptr);
    return S_OK;
}

bool ZelvanFolder::OwnRecord(ItemRecord* record) const {
    std::vector<ItemRecord> records;
    if (!DecodeList(reinterpret_cast<const uint8_t*>(folderPidl_.Get()), SIZE_MAX, &records) || records.empty())
        return false;
    if (record)
        *record = records.back();
    return true;
}

// ---- IShellFolder ----

STDMETHODIMP ZelvanFolder::ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE* ppidl, ULONG*) {
    if (ppidl)
        *ppidl = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ZelvanFolder::EnumObjects(HWND, SHCONTF grfFlags, IEnumIDList** ppenumIDList) {
    if (!ppenumIDList)
        return E_POINTER;
    *ppenumIDList = nullptr;
    com::ComPtr<ZvEnumIDList> list;
    TV_RETURN_IF_FAILED(com::MakeComObject(list));
    if (FAILED(list->Fill(*globals_, path_, grfFlags)))
        return E_FAIL;
    *ppenumIDList = list.Detach();
    return S_OK;
}

STDMETHODIMP ZelvanFolder::BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx*, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEmptyPidl(pidl) || !PidlToDevicePath(pidl, nullptr))
        return E_INVALIDARG;
    // A new folder for the child; this one stays the folder it was.
    UniquePidl combined(ILCombine(folderPidl_.Get(), pidl));
    if (!combined)
        return E_OUTOFMEMORY;
    com::ComPtr<ZelvanFolder> child;
    TV_RETURN_IF_FAILED(com::MakeComObject(child));
    TV_RETURN_IF_FAILED(child->InitializeAt(combined.Get(), rootPidl_.Get()));
    return child->QueryInterface(riid, ppv);
}

STDMETHODIMP ZelvanFolder::BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** ppv) {
    if (ppv)
        *ppv = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ZelvanFolder::CompareIDs(LPARAM, PCUIDLIST_RELATIVE pidl1, PCUIDLIST_RELATIVE pidl2) {
    if (IsEmptyPidl(pidl1))
        return ShortResult(0);
    if (IsEmptyPidl(pidl2))
        return ShortResult(1);
    std::string path1, path2;
    if (!PidlToDevicePath(pidl1, &path1) || !PidlToDevicePath(pidl2, &path2))
        return E_INVALIDARG;
    return ShortResult(Sign(lstrcmpA(path1.c_str(), path2.c_str())));
}

STDMETHODIMP ZelvanFolder::CreateViewObject(HWND, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IDropTarget))
        return CreateDropTarget(globals_, path_, riid, ppv);
    if (IsEqualIID(riid, IID_IShellView))
        return CreateFolderView(this, riid, ppv);
    if (IsEqualIID(riid, IID_IShellLinkA))
        return CreateShellLink(path_, folderPidl_.Get(), riid, ppv);
    return E_NOTIMPL;
}

HRESULT ZelvanFolder::CreateShellLink(const std::string& path, PCUIDLIST_RELATIVE pidl, REFIID riid, void** ppv) {
    com::ComPtr<IShellLinkA> link;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
    TV_RETURN_IF_FAILED(link->SetPath(path.c_str()));
    TV_RETURN_IF_FAILED(link->SetDescription(""));
    TV_RETURN_IF_FAILED(link->SetIDList(reinterpret_cast<PCIDLIST_ABSOLUTE>(pidl)));
    return link->QueryInterface(riid, ppv);
}

STDMETHODIMP ZelvanFolder::GetAttributesOf(UINT cidl, PCUITEMID_CHILD_ARRAY apidl, SFGAOF* rgfInOut) {
    if (!rgfInOut || (cidl > 0 && !apidl))
        return E_POINTER;
    // Everything but a device itself takes drops.
    std::string firstPath = path_;
    if (cidl > 0) {
        ItemRecord first;
        if (!ReadItem(apidl[0], &first))
            return E_FAIL;
        firstPath = JoinDevicePath(path_, first.name);
    }
    SFGAOF result = globals_->IsConnectedDevice(firstPath) ? 0 : SFGAO_DROPTARGET;
    if (cidl > 0) {
        DWORD common = 0xFFFFFFFF;
        for (UINT i = 0; i < cidl; ++i) {
            ItemRecord record;
            if (!ReadItem(apidl[i], &record))
                return E_FAIL;
            common &= record.flags;
        }
        result |= common | SFGAO_CANLINK;
    }
    *rgfInOut = result;
    return S_OK;
}

STDMETHODIMP ZelvanFolder::GetUIObjectOf(HWND, UINT cidl, PCUITEMID_CHILD_ARRAY apidl, REFIID riid, UINT*,
                                         void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (cidl != 1 || !apidl)
        return E_FAIL;
    ItemRecord record;
    if (!ReadItem(apidl[0], &record))
        return E_INVALIDARG;
    itemPidl_.Reset(ILCloneFirst(apidl[0]));
    if (!itemPidl_)
        return E_OUTOFMEMORY;
    if (IsEqualIID(riid, IID_IExtractIconA) || IsEqualIID(riid, IID_IContextMenu) ||
        IsEqualIID(riid, IID_IResolveShellLink))
        return QueryInterface(riid, ppv);
    if (IsEqualIID(riid, IID_IDropTarget))
        return CreateDropTarget(globals_, JoinDevicePath(path_, record.name), riid, ppv);
    if (IsEqualIID(riid, IID_IShellLinkA))
        return CreateShellLink(path_, folderPidl_.Get(), riid, ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP ZelvanFolder::GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF uFlags, STRRET* pName) {
    if (!pidl || !pName)
        return E_POINTER;
    ItemRecord record;
    if (!ReadItem(pidl, &record))
        return E_INVALIDARG;
    if (uFlags & SHGDN_INFOLDER) {
        pName->uType = STRRET_OFFSET;
        pName->uOffset = kItemNameOffset;
        return S_OK;
    }
    std::string text = std::string(kMyZelvanName) + "\\";
    if (!path_.empty())
        text += path_ + "\\";
    text += record.name;
    pName->uType = STRRET_CSTR;
    lstrcpynA(pName->cStr, text.c_str(), sizeof(pName->cStr));
    return S_OK;
}

STDMETHODIMP ZelvanFolder::SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD* ppidlOut) {
    if (ppidlOut)
        *ppidlOut = nullptr;
    return E_NOTIMPL;
}

// ---- IPersistFolder / IShellExtInit ----

STDMETHODIMP ZelvanFolder::GetClassID(CLSID* pClassID) {
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_ZelvanNS;
    return S_OK;
}

STDMETHODIMP ZelvanFolder::Initialize(PCIDLIST_ABSOLUTE pidl) {
    rootPidl_.Reset(pidl ? ILClone(pidl) : nullptr);
    return S_OK;
}

STDMETHODIMP ZelvanFolder::Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject*, HKEY) {
    return InitializeAt(reinterpret_cast<PCUIDLIST_RELATIVE>(pidlFolder), rootPidl_.Get());
}

// ---- IExtractIconA ----

STDMETHODIMP ZelvanFolder::GetIconLocation(UINT, LPSTR szIconFile, UINT cchMax, int* piIndex, UINT* pwFlags) {
    if (!szIconFile || !piIndex)
        return E_POINTER;
    if (pwFlags)
        *pwFlags = GIL_NOTFILENAME | GIL_PERINSTANCE;
    ItemRecord record;
    if (ReadItem(itemPidl_.Get(), &record)) {
        if (cchMax > 0)
            szIconFile[0] = '\0';
        *piIndex = static_cast<int>(record.iconIndex);
    } else {
        lstrcpynA(szIconFile, "ZVL", static_cast<int>(cchMax));
        *piIndex = 0;
    }
    return S_OK;
}

STDMETHODIMP ZelvanFolder::Extract(LPCSTR, UINT nIconIndex, HICON* phiconLarge, HICON* phiconSmall, UINT) {
    if (!phiconLarge || !phiconSmall)
        return E_POINTER;
    *phiconLarge = ImageList_GetIcon(globals_->LargeImages(), static_cast<int>(nIconIndex), ILD_NORMAL);
    *phiconSmall = ImageList_GetIcon(globals_->SmallImages(), static_cast<int>(nIconIndex), ILD_NORMAL);
    return S_OK;
}

// ---- IContextMenu (the root's verb) ----

STDMETHODIMP ZelvanFolder::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT, UINT uFlags) {
    if (uFlags != (CMF_DEFAULTONLY | CMF_VERBSONLY))
        return 0;
    std::string text = LangString(IDS_NS_OPEN_VERB);
    InsertMenuA(hmenu, indexMenu, MF_BYPOSITION | MF_STRING, idCmdFirst + 1, text.c_str());
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2);
}

STDMETHODIMP ZelvanFolder::InvokeCommand(CMINVOKECOMMANDINFO*) { return S_OK; }

STDMETHODIMP ZelvanFolder::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax) {
    if (idCmd != kRenameCommand || !pszName || cchMax == 0)
        return S_OK;
    if (uType == GCS_VERBA)
        lstrcpynA(pszName, "rename", static_cast<int>(cchMax));
    else if (uType == GCS_VERBW)
        lstrcpynW(reinterpret_cast<LPWSTR>(pszName), L"rename", static_cast<int>(cchMax));
    return S_OK;
}

// ---- Shortcuts into the folder ----

HRESULT ZelvanFolder::ReportMissingTarget(HWND hwnd, const std::string& device) {
    // The warning and a silent failure alternate, so that a shell that asks twice warns once.
    if (warnNextMissingTarget_) {
        std::string pattern = LangString(IDS_NS_DEVICE_GONE);
        std::vector<char> text(pattern.size() + device.size() + 1);
        std::snprintf(text.data(), text.size(), pattern.c_str(), device.c_str());
        MessageBoxA(IsWindow(hwnd) ? hwnd : GetDesktopWindow(), text.data(), LangString(IDS_NS_CAPTION).c_str(),
                    MB_ICONWARNING);
    }
    warnNextMissingTarget_ = !warnNextMissingTarget_;
    return E_FAIL;
}

STDMETHODIMP ZelvanFolder::ResolveShellLink(IUnknown* punkLink, HWND hwnd, DWORD) {
    ItemRecord item;
    std::string itemPath;
    if (ReadItem(itemPidl_.Get(), &item))
        itemPath = item.name;
    const std::string devicePath = JoinDevicePath(path_, itemPath);
    if (punkLink) {
        com::ComPtr<IShellLinkA> link;
        if (SUCCEEDED(punkLink->QueryInterface(IID_PPV_ARGS(&link)))) {
            char library[MAX_PATH] = {};
            if (GetModuleFileNameA(LanguageModule(), library, sizeof(library)) > 0)
                link->SetIconLocation(library, 1);
        }
    }
    const std::string device = SplitDevicePath(path_).device;
    if (!globals_->IsConnectedDevice(device))
        return ReportMissingTarget(hwnd, device);
    com::ComPtr<IZelvanMgr> hub;
    com::ComPtr<IZvEnumFileItems> listing;
    if (FAILED(globals_->GetHub(hub)) ||
        FAILED(hub->EnumFileItems(const_cast<LPSTR>(devicePath.c_str()), 31, &listing)) || !listing)
        return ReportMissingTarget(hwnd, device);
    ZVFILEITEM record{};
    LONG fetched = 0;
    HRESULT hr = listing->Next(1, &record, &fetched);
    if (SUCCEEDED(hr) && fetched > 0) {
        CoTaskMemFree(record.strName);
        CoTaskMemFree(record.strDesc);
        CoTaskMemFree(record.strIconFile);
    }
    if (FAILED(hr) || fetched <= 0)
        return ReportMissingTarget(hwnd, device);
    UniquePidl root(rootPidl_ ? ILClone(rootPidl_.Get()) : FindMyZelvanRoot());
    UniquePidl folder(root ? ILCombine(root.Get(), folderPidl_.Get()) : nullptr);
    UniquePidl target(folder ? (itemPidl_ ? ILCombine(folder.Get(), itemPidl_.Get()) : ILClone(folder.Get()))
                             : nullptr);
    if (!target)
        return E_FAIL;
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_IDLIST | SEE_MASK_CLASSNAME;
    info.lpVerb = "open";
    info.lpIDList = target.Get();
    info.lpClass = "Folder";
    info.nShow = SW_SHOWNORMAL;
    info.hwnd = hwnd;
    return Seams().shellExecuteEx(&info) ? S_OK : E_FAIL;
}

} // namespace tv::shellns
