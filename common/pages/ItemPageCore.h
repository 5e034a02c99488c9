// What every item property page of the device links shares: the IPropertyPage mechanics over a
// dialog template of the language library (site, window, dirty flag, page information), the
// item record the program's property sheet hands over, and the name box whose change makes the
// page dirty and whose new name Apply takes to the hub as a rename.
//
// A page class derives from PropertyPageObject<Self, Core, Extra...>, where Core is this class
// or one derived from it; the template forwards IPropertyPage to the core.
#pragma once
#include "ComObject.h"
#include "LangIds.h"
#include "Handles.h"
#include "ZelvanMgr.h"
#include "ZvDevice.h"
#include <windows.h>
#include <ocidl.h>
#include <string>

namespace tv::pages {

// Where a page's title comes from: a string of the language library, or the caption of its
// dialog template when the id is 0.
struct PageTemplate {
    UINT dialogId;
    UINT titleStringId;
};

// Attribute bits of device items, as the device listings report them.
inline constexpr long kAttrHidden = 0x01;
inline constexpr long kAttrReadOnly = 0x04;
inline constexpr long kAttrSystem = 0x08;
inline constexpr long kAttrKeptS = 0x40;

// The device objects answer a refused operation with a small positive number rather than an
// HRESULT, and the hub passes it on: anything but S_OK is a failure, reported as E_FAIL when it
// is no failure code of its own.
inline HRESULT AsFailure(HRESULT hr) {
    return FAILED(hr) ? hr : E_FAIL;
}

// Creates the hub for one use (in any context, as every client reaches it).
HRESULT CreateHub(com::ComPtr<IZelvanMgr>& hub);

class ItemPageCore {
  public:
    explicit ItemPageCore(PageTemplate pageTemplate);
    ItemPageCore(const ItemPageCore&) = delete;
    ItemPageCore& operator=(const ItemPageCore&) = delete;
    virtual ~ItemPageCore();

    HRESULT SetPageSite(IPropertyPageSite* site);
    HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal);
    HRESULT Deactivate();
    HRESULT GetPageInfo(PROPPAGEINFO* info);
    HRESULT SetObjects(ULONG count, IUnknown** objects);
    HRESULT Show(UINT command);
    HRESULT Move(LPCRECT rect);
    HRESULT IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }
    HRESULT Apply() { return dirty_ ? ApplyChanges() : S_OK; }
    // WinHelp with the directory, a backslash and the page's help file (the pages name none)
    // as a context pop-up; E_FAIL when WinHelp fails.
    HRESULT Help(LPCOLESTR directory);
    HRESULT TranslateAccelerator(MSG* message);

    // The WinHelp call the pages make; tests put a recorder in its place.
    using WinHelpCall = BOOL(WINAPI*)(HWND, LPCWSTR, UINT, ULONG_PTR);
    static void SetWinHelp(WinHelpCall call);

  protected:
    // Fills the controls once the window exists; its result is Activate's.
    virtual HRESULT FillControls() = 0;
    // Applies the page (called only when it is dirty).
    virtual HRESULT ApplyChanges() { return S_OK; }
    virtual void OnCommand(WORD id, WORD code);
    // Paints between BeginPaint and EndPaint.
    virtual void OnPaint(HDC) {}
    // A control's notification; true when the page handled it.
    virtual bool OnNotify(NMHDR*) { return false; }

    void SetDirty(bool dirty);
    HWND Window() const { return window_; }
    HMODULE Resources() const { return resources_.Get(); }
    std::string LanguageText(UINT id) const;
    const ZVFILEITEM& Item() const { return item_; }
    ZVFILEITEM& Item() { return item_; }
    std::string ItemName() const { return item_.strName ? item_.strName : ""; }
    std::string ItemFolder() const { return item_.strDesc ? item_.strDesc : ""; }
    void SetControlText(int id, const std::string& text) const;
    std::string ControlText(int id, size_t maxLength) const;
    // A message box with a text of the language library, or a literal text.
    int ShowMessage(HWND owner, const std::string& text, UINT captionId, UINT style) const;

    // The name box (12501): filled with the item's name; its first change notification (caused
    // by the filling) is ignored, later ones make the page dirty.
    void FillNameBox();
    void RestoreNameBox() { SetControlText(kNameBox, ItemName()); }
    // The item's full path as the hub knows it; formed from the folder and the old name until
    // a rename changes it.
    const std::string& FullPath();
    std::string PathForName(const std::string& name) const;
    // Reads the new name from the name box and, when it differs, renames the item through the
    // hub. `renamed` tells whether a rename happened; `error` holds the hub's error text.
    HRESULT RenameFromNameBox(IZelvanMgr* hub, bool& renamed, std::string& error);

    static constexpr int kNameBox = IDC_PAGE_NAME;
    static constexpr int kTypeText = IDC_PAGE_TYPE;
    static constexpr int kLocationText = IDC_PAGE_LOCATION;
    // The location is shortened to this many pixels.
    static constexpr UINT kLocationWidth = 280;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreatePageWindow(HWND parent);
    HRESULT MeasureTemplate();

    PageTemplate template_;
    com::UniqueModule resources_;
    com::ComPtr<IPropertyPageSite> site_;
    HWND window_ = nullptr;
    // The page's help file inside the help directory: none is named.
    std::wstring helpFile_;
    SIZE size_ = {};
    std::string title_;
    bool measured_ = false;
    bool dirty_ = false;
    bool firstNameChange_ = true;
    std::string fullPath_;
    ZVFILEITEM item_ = {};
};

// The COM face of a page: IPropertyPage forwarded to Core, plus the page's other interfaces.
template <class Self, class Core, class... Extra>
class PropertyPageObject : public com::ComObject<Self, IPropertyPage, Extra...>, public Core {
  public:
    using Core::Core;

    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override { return Core::SetPageSite(site); }
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override {
        return Core::Activate(parent, rect, modal);
    }
    STDMETHODIMP Deactivate() override { return Core::Deactivate(); }
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override { return Core::GetPageInfo(info); }
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override {
        return Core::SetObjects(count, objects);
    }
    STDMETHODIMP Show(UINT command) override { return Core::Show(command); }
    STDMETHODIMP Move(LPCRECT rect) override { return Core::Move(rect); }
    STDMETHODIMP IsPageDirty() override { return Core::IsPageDirty(); }
    STDMETHODIMP Apply() override { return Core::Apply(); }
    STDMETHODIMP Help(LPCOLESTR directory) override { return Core::Help(directory); }
    STDMETHODIMP TranslateAccelerator(MSG* message) override { return Core::TranslateAccelerator(message); }
};

} // namespace tv::pages
