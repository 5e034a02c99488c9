// The program's own property sheet: a modeless dialog with a tab control that hosts COM
// property pages made from a list of class ids, serves as their site and applies them with OK
// or Apply. Its thread runs the sheet's own message loop inside Show.
#pragma once
#include "ComPtr.h"
#include <windows.h>
#include <ocidl.h>
#include <functional>
#include <string>
#include <vector>

namespace tv {

// The hidden page, added to the properties of an item named "Tvl" after enough Ctrl+Tab presses.
inline constexpr CLSID CLSID_TvlPlus = {0x6c90b5d8, 0x0f79, 0x4bb3, {0x93, 0x45, 0xa5, 0x71, 0xc8, 0xb5, 0x89, 0x77}};

class DevicePropertySheet : public IPropertyPageSite {
public:
    // `resources` holds dialog 15100 (the language library).
    explicit DevicePropertySheet(HMODULE resources);
    DevicePropertySheet(const DevicePropertySheet&) = delete;
    DevicePropertySheet& operator=(const DevicePropertySheet&) = delete;
    virtual ~DevicePropertySheet();

    // The caption and the objects every page receives (each is kept with a reference).
    void Setup(const std::string& caption, const std::vector<IUnknown*>& objects);
    void AddPage(REFCLSID clsid);
    // The names of the items the sheet shows.
    void SetItemData(std::vector<std::string> itemNames);
    // Called with the sheet's window as soon as the window exists.
    void SetWindowCreatedHandler(std::function<void(HWND)> handler);
    // Shows the sheet and runs its message loop until it is closed: 1 after OK, 2 after
    // Cancel or a close request, 0 when the sheet could not be shown.
    int Show();

    // The pages' area, known once the sheet was shown.
    LONG PagesWidth() const { return width_; }
    LONG PagesHeight() const { return height_; }

    // IPropertyPageSite; the site lives as long as the sheet, so counting is not needed.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStatusChange(DWORD flags) override;
    STDMETHODIMP GetLocaleID(LCID* localeId) override;
    STDMETHODIMP GetPageContainer(IUnknown** container) override;
    STDMETHODIMP TranslateAccelerator(MSG* message) override;

private:
    struct Page {
        com::ComPtr<IPropertyPage> page;
        std::string title;
        SIZE size{};
        bool activated = false;
    };

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Initialise();
    bool CreatePage(REFCLSID clsid);
    void InsertTab(size_t index);
    void Layout();
    RECT PageRect(LONG extraHeight) const;
    void SwitchTo(size_t index);
    void UpdateApply();
    bool ApplyPages();
    void End(int code);
    // The sheet's keyboard filter: Ctrl+Tab and Shift+Tab move between the pages.
    bool FilterMessage(const MSG& message);
    void MoveNext();
    void MovePrevious();

    HMODULE resources_;
    std::string caption_;
    std::vector<com::ComPtr<IUnknown>> objects_;
    std::vector<IUnknown*> objectPointers_;
    bool ready_ = false;
    std::vector<CLSID> pageClasses_;
    std::vector<Page> pages_;
    size_t current_ = 0;
    LONG width_ = 270;
    LONG height_ = 0;
    std::vector<std::string> itemNames_;
    std::function<void(HWND)> onWindowCreated_;
    HWND window_ = nullptr;
    bool initialised_ = false;
    int keyState_ = 0;
    int overruns_ = 0;
    bool hiddenPageAdded_ = false;
};

} // namespace tv
