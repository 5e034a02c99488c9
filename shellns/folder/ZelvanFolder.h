// The "My Zelvan" folder and every folder below it: devices, volumes, folders and files listed
// through the hub. One object serves the shell folder, its icons, the root's verb menu and the
// opening of shortcuts that point into the folder.
#pragma once
#include "ComObject.h"
#include "ItemIdList.h"
#include "NsGlobals.h"
#include "ShellNsIds.h"
#include <shlobj.h>
#include <memory>
#include <string>

namespace tv::shellns {

class ZelvanFolder : public com::ComObject<ZelvanFolder, IShellFolder, IPersistFolder, IExtractIconA,
                                           IShellExtInit, IContextMenu, IResolveShellLink> {
public:
    ZelvanFolder() = default;
    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    // Makes the folder for `pidl` (relative to "My Zelvan"), sharing the root's identifier.
    HRESULT InitializeAt(PCUIDLIST_RELATIVE pidl, PCIDLIST_ABSOLUTE root);

    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND hwnd, IBindCtx* pbc, LPWSTR pszDisplayName, ULONG* pchEaten,
                                  PIDLIST_RELATIVE* ppidl, ULONG* pdwAttributes) override;
    STDMETHODIMP EnumObjects(HWND hwnd, SHCONTF grfFlags, IEnumIDList** ppenumIDList) override;
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx* pbc, REFIID riid, void** ppv) override;
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE pidl, IBindCtx* pbc, REFIID riid, void** ppv) override;
    STDMETHODIMP CompareIDs(LPARAM lParam, PCUIDLIST_RELATIVE pidl1, PCUIDLIST_RELATIVE pidl2) override;
    STDMETHODIMP CreateViewObject(HWND hwndOwner, REFIID riid, void** ppv) override;
    STDMETHODIMP GetAttributesOf(UINT cidl, PCUITEMID_CHILD_ARRAY apidl, SFGAOF* rgfInOut) override;
    STDMETHODIMP GetUIObjectOf(HWND hwndOwner, UINT cidl, PCUITEMID_CHILD_ARRAY apidl, REFIID riid, UINT* rgfReserved,
                               void** ppv) override;
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF uFlags, STRRET* pName) override;
    STDMETHODIMP SetNameOf(HWND hwnd, PCUITEMID_CHILD pidl, LPCWSTR pszName, SHGDNF uFlags,
                           PITEMID_CHILD* ppidlOut) override;

    // IPersistFolder
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidl) override;

    // IExtractIconA
    STDMETHODIMP GetIconLocation(UINT uFlags, LPSTR szIconFile, UINT cchMax, int* piIndex, UINT* pwFlags) override;
    STDMETHODIMP Extract(LPCSTR pszFile, UINT nIconIndex, HICON* phiconLarge, HICON* phiconSmall,
                         UINT nIconSize) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName, UINT cchMax) override;

    // IResolveShellLink
    STDMETHODIMP ResolveShellLink(IUnknown* punkLink, HWND hwnd, DWORD fFlags) override;

    // What the view and the operations ask of their folder.
    const std::string& DevicePath() const { return path_; }
    PCUIDLIST_RELATIVE FolderPidl() const { return folderPidl_.Get(); }
    NsGlobals& Globals() const { return *globals_; }
    std::shared_ptr<NsGlobals> GlobalsHolder() const { return globals_; }
    // The record of the folder's own last level (false for the root).
    bool OwnRecord(ItemRecord* record) const;

private:
    HRESULT CreateShellLink(const std::string& path, PCUIDLIST_RELATIVE pidl, REFIID riid, void** ppv);
    HRESULT ReportMissingTarget(HWND hwnd, const std::string& device);

    std::shared_ptr<NsGlobals> globals_;
    UniquePidl rootPidl_;    // absolute identifier of "My Zelvan"
    UniquePidl folderPidl_;  // this folder below "My Zelvan" (empty list at the root)
    std::string path_;       // device path of this folder
    UniquePidl itemPidl_;    // the item kept by GetUIObjectOf
    bool warnNextMissingTarget_ = true;
};

// The absolute identifier of "My Zelvan" in My Computer; null when the shell does not list it.
LPITEMIDLIST FindMyZelvanRoot();

// Made elsewhere in the extension: the view of a folder and the drop target of a device path.
HRESULT CreateFolderView(ZelvanFolder* folder, REFIID riid, void** ppv);
HRESULT CreateDropTarget(std::shared_ptr<NsGlobals> globals, const std::string& path, REFIID riid, void** ppv);

} // namespace tv::shellns
