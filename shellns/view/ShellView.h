// The view Explorer shows for every "My Zelvan" folder: a list of the folder's devices,
// volumes, folders or files with four columns, sorting, four view modes, context menus, label
// editing for rename and the commands that start copies, moves and deletions.
#pragma once
#include "ComObject.h"
#include "ItemIdList.h"
#include "NsGlobals.h"
#include "ZelvanFolder.h"
#include <commctrl.h>
#include <shlobj.h>
#include <string>
#include <vector>

namespace tv::shellns {

inline constexpr char kViewClassName[] = "ZelvanNS::ZvMyView";

class ZvShellView : public com::ComObject<ZvShellView, IShellView> {
public:
    ZvShellView(ZelvanFolder* folder);
    ~ZvShellView() override;
    void* QueryOtherInterface(REFIID riid);

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IShellView
    STDMETHODIMP TranslateAccelerator(MSG* pmsg) override;
    STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP UIActivate(UINT uState) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP CreateViewWindow(IShellView* previous, LPCFOLDERSETTINGS pfs, IShellBrowser* psb, RECT* prcView,
                                  HWND* phWnd) override;
    STDMETHODIMP DestroyViewWindow() override;
    STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS pfs) override;
    STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SaveViewState() override { return S_OK; }
    STDMETHODIMP SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemObject(UINT, REFIID, void** ppv) override {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }

    // The list control (tests drive it).
    HWND List() const { return list_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR);
    static int CALLBACK CompareItems(LPARAM a, LPARAM b, LPARAM view);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(NMHDR* header);
    void OnCommand(UINT command);

    void AddToolbarButtons();
    void MergeMenus();
    void InsertColumns();
    void SetViewMode(int mode);
    void SetSortMark();
    void OwnerDrawHeader();
    bool DrawHeaderItem(const DRAWITEMSTRUCT& item);
    void ShowFavoritesButton();
    void SortBy(int column);
    void SortCommand(int sort);
    void ShowSelectionStatus(bool force);
    void QueryVolume();
    void Broadcast();

    // Selection as device paths and as item records.
    std::vector<int> SelectedIndexes() const;
    std::vector<std::string> SelectedPaths() const;
    const ItemRecord* RecordAt(int index) const;
    bool ProtectedSelection() const;
    void RefuseProtected();

    void DeleteSelection();
    void NewFolder();
    void StartRename();
    bool EndRename(NMLVDISPINFOA* info);
    void Properties();
    void OpenSelection(bool explore);
    void CutSelection();
    void CopySelection();
    void Paste();
    void ClearCutMarks();
    void DragOut();
    void ContextMenu(POINT screen);
    void ShowHelp(bool about);

    com::ComPtr<ZelvanFolder> folder_;
    std::shared_ptr<NsGlobals> globals_;
    com::ComPtr<IShellBrowser> browser_;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND tree_ = nullptr;
    HMENU menu_ = nullptr;
    FOLDERSETTINGS settings_{};
    UINT refreshMessage_ = 0;
    UINT updateMessage_ = 0;
    bool editing_ = false;
    HWND edit_ = nullptr;
    std::string textBeforeEdit_;
    bool skipNextKey_ = false;
    bool ctrlHeld_ = false;
    bool showHidden_ = true;
    int lastSelected_ = -1;
    std::vector<int> cutIndexes_;
    std::vector<ItemRecord> records_;  // lParam of each list item indexes this
    VOLUMEINFO volume_{};
    bool haveVolume_ = false;
    bool registeredDrop_ = false;
};

} // namespace tv::shellns
