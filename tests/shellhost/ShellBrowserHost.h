// A small shell-browser frame for tests: a top-level window of Explorer's frame class with a
// toolbar, a status bar, a tree and a band of links, that hosts a folder's view through CreateViewObject and
// CreateViewWindow and records what the view asks of its browser (status texts, browse
// requests, menu and toolbar merges).
#pragma once
#include "ComObject.h"
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <mutex>
#include <string>
#include <vector>

namespace tv::test {

inline constexpr char kExplorerFrameClass[] = "ExploreWClass";
inline constexpr int kFavoritesCommand = 41001;

class ShellBrowserHost : public com::ComObject<ShellBrowserHost, IShellBrowser> {
public:
    ShellBrowserHost();
    ~ShellBrowserHost() override;
    void* QueryOtherInterface(REFIID riid);

    // Makes the frame and shows the view of `folder` in it.
    HRESULT Open(IShellFolder* folder, UINT viewMode = FVM_DETAILS);
    void Close();
    // Lets go of the view without destroying its window first, as a browser that ends abruptly.
    void Abandon();

    HWND Frame() const { return frame_; }
    HWND ViewWindow() const { return viewWindow_; }
    HWND Toolbar() const { return toolbar_; }
    HWND Status() const { return status_; }
    HWND Tree() const { return tree_; }
    IShellView* View() const { return view_.Get(); }

    std::vector<std::wstring> StatusTexts() const;
    std::wstring LastStatus() const;
    std::vector<UINT> BrowseFlags() const;
    int ToolbarButtonsMerged() const { return toolbarButtons_; }
    bool MenuMerged() const { return menuSet_; }
    HMENU SharedMenu() const { return sharedMenu_; }
    // Whether the Favorites button of the frame's links band is hidden (it starts hidden).
    bool FavoritesHidden() const;

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IShellBrowser
    STDMETHODIMP InsertMenusSB(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) override;
    STDMETHODIMP SetMenuSB(HMENU hmenuShared, HOLEMENU holemenuRes, HWND hwndActiveObject) override;
    STDMETHODIMP RemoveMenusSB(HMENU hmenuShared) override;
    STDMETHODIMP SetStatusTextSB(LPCWSTR pszStatusText) override;
    STDMETHODIMP EnableModelessSB(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE pidl, UINT wFlags) override;
    STDMETHODIMP GetViewStateStream(DWORD, IStream** ppStrm) override;
    STDMETHODIMP GetControlWindow(UINT id, HWND* phwnd) override;
    STDMETHODIMP SendControlMsg(UINT id, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pret) override;
    STDMETHODIMP QueryActiveShellView(IShellView** ppshv) override;
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB lpButtons, UINT nButtons, UINT uFlags) override;

private:
    HWND frame_ = nullptr;
    HWND toolbar_ = nullptr;
    HWND status_ = nullptr;
    HWND tree_ = nullptr;
    HWND links_ = nullptr;
    HWND viewWindow_ = nullptr;
    HMENU sharedMenu_ = nullptr;
    com::ComPtr<IShellView> view_;
    mutable std::mutex lock_;
    std::vector<std::wstring> statusTexts_;
    std::vector<UINT> browseFlags_;
    int toolbarButtons_ = 0;
    bool menuSet_ = false;
};

} // namespace tv::test
