#include "MultiProperties.h"
#include "DevicePath.h"
#include "Handles.h"
#include "NsGlobals.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace tv::shellns {
namespace {

constexpr UINT kCaptionWidth = 20;
constexpr int kFolderTextPixels = 280;
constexpr int kMixedKindIcon = 133;

// The page: it is also the sink of the hub's items query.
class ItemsPage : public com::ComObject<ItemsPage, IZvItemsInfoCallback> {
public:
    ItemsPage(std::string folder, std::vector<std::string> names) : folder_(std::move(folder)), names_(std::move(names)) {
        for (const std::string& name : names_)
            longest_ = std::max(longest_, folder_.size() + name.size() + 1);
    }
    ~ItemsPage() override {
        if (icon_)
            DestroyIcon(icon_);
    }

    STDMETHODIMP OnOperationStart() override { return S_OK; }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override {
        if (!window_)
            return S_OK;
        SetDlgItemTextA(window_, IDC_NS_PAGE_SIZE,
                        SizeText(static_cast<unsigned long>(info.nTotalSize)).c_str());
        std::string pattern = LangString(IDS_NS_PAGE_COUNTS);
        std::vector<char> text(pattern.size() + 64);
        std::snprintf(text.data(), text.size(), pattern.c_str(), static_cast<unsigned>(info.files),
                      static_cast<unsigned>(info.folders));
        SetDlgItemTextA(window_, IDC_NS_PAGE_COUNTS, text.data());
        return S_OK;
    }
    STDMETHODIMP OnOperationComplete(LPSTR) override { return S_OK; }

    HRESULT Initialise(HWND window) {
        window_ = window;
        if (folder_.empty() || names_.empty() || longest_ == 0)
            return S_OK;
        char shown[MAX_PATH] = {};
        lstrcpynA(shown, folder_.c_str(), sizeof(shown));
        if (HDC dc = GetDC(window)) {
            PathCompactPathA(dc, shown, kFolderTextPixels);
            ReleaseDC(window, dc);
        }
        SetDlgItemTextA(window, IDC_NS_PAGE_FOLDER, shown);
        com::ComPtr<IZelvanMgr> hub;
        HRESULT hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubContexts, IID_PPV_ARGS(&hub));
        if (FAILED(hr))
            return hr;
        ReadKind(hub.Get());
        SetDlgItemTextA(window, IDC_NS_PAGE_KIND, kind_.c_str());
        paths_.clear();
        for (const std::string& name : names_) {
            paths_.emplace_back(longest_ + 1, '\0');
            std::snprintf(paths_.back().data(), paths_.back().size(), "%s\\%s", folder_.c_str(), name.c_str());
        }
        std::vector<LPSTR> pointers;
        for (auto& path : paths_)
            pointers.push_back(path.data());
        return hub->GetItemsInfo(static_cast<LONG>(pointers.size()), static_cast<LONG>(longest_ + 1), pointers.data(),
                                 this);
    }

    void Paint(HWND window) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (icon_)
            DrawIcon(dc, 10, 10, icon_);
        EndPaint(window, &paint);
    }

    void Detach() { window_ = nullptr; }

private:
    void ReadKind(IZelvanMgr* hub) {
        com::ComPtr<IZvEnumFileItems> listing;
        if (FAILED(hub->EnumFileItems(const_cast<LPSTR>(folder_.c_str()), 31, &listing)) || !listing)
            return;
        bool found = false;
        for (;;) {
            ZVFILEITEM record{};
            LONG fetched = 0;
            if (FAILED(listing->Next(1, &record, &fetched)) || fetched <= 0)
                break;
            const std::string name = record.strName ? record.strName : "";
            const std::string description = record.strDesc ? record.strDesc : "";
            const std::string iconFile = record.strIconFile ? record.strIconFile : "";
            CoTaskMemFree(record.strName);
            CoTaskMemFree(record.strDesc);
            CoTaskMemFree(record.strIconFile);
            if (std::find(names_.begin(), names_.end(), name) == names_.end())
                continue;
            if (!found) {
                found = true;
                kind_ = description;
                if (!iconFile.empty())
                    ExtractIconExA(iconFile.c_str(), record.nIconIndex, &icon_, nullptr, 1);
            } else if (lstrcmpiA(description.c_str(), kind_.c_str()) != 0) {
                kind_ = LangString(IDS_NS_MIXED_KIND);
                if (icon_)
                    DestroyIcon(icon_);
                icon_ = nullptr;
                ExtractIconExA("shell32.dll", kMixedKindIcon, &icon_, nullptr, 1);
                break;
            }
        }
    }

    std::string folder_;
    std::vector<std::string> names_;
    std::vector<std::vector<char>> paths_;
    size_t longest_ = 0;
    std::string kind_;
    HICON icon_ = nullptr;
    HWND window_ = nullptr;
};

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    auto* page = reinterpret_cast<ItemsPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        auto* sheetPage = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
        page = reinterpret_cast<ItemsPage*>(sheetPage->lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
        page->Initialise(window);
        return TRUE;
    }
    case WM_PAINT:
        if (page) {
            page->Paint(window);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        if (page)
            page->Detach();
        break;
    }
    return FALSE;
}

UINT CALLBACK PageCallback(HWND, UINT, PROPSHEETPAGEA*) { return 1; }

struct SheetRequest {
    std::string folder;
    std::vector<std::string> names;
};

DWORD WINAPI SheetThread(void* parameter) {
    std::unique_ptr<SheetRequest> request(static_cast<SheetRequest*>(parameter));
    {
        com::ComApartment apartment;
        RunMultiPropertiesSheet(request->folder, request->names);
    }
    com::ModuleLock::Unlock();
    return 0;
}

} // namespace

std::string SizeText(unsigned long long size) {
    char text[128] = {};
    if (size < 1024) {
        std::snprintf(text, sizeof(text), "%llu bytes", size);
        return text;
    }
    char shortForm[64] = {};
    StrFormatByteSize64A(static_cast<LONGLONG>(size), shortForm, sizeof(shortForm));
    std::snprintf(text, sizeof(text), "%s (%llu bytes)", shortForm, size);
    return text;
}

std::string MultiPropertiesCaption(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ",") + name;
    char shortened[kCaptionWidth + 1] = {};
    if (!PathCompactPathExA(shortened, joined.c_str(), kCaptionWidth + 1, 0))
        lstrcpynA(shortened, joined.c_str(), sizeof(shortened));
    return std::string(shortened) + " Properties";
}

INT_PTR RunMultiPropertiesSheet(const std::string& folderPath, const std::vector<std::string>& names) {
    com::ComPtr<ItemsPage> page;
    if (FAILED(com::MakeComObject(page, folderPath, names)))
        return -1;
    std::string title = LangString(IDS_NS_PAGE_TITLE);
    PROPSHEETPAGEA sheetPage{};
    sheetPage.dwSize = sizeof(sheetPage);
    sheetPage.dwFlags = PSP_USECALLBACK | PSP_USETITLE;
    sheetPage.hInstance = LanguageModule();
    sheetPage.pszTemplate = MAKEINTRESOURCEA(IDD_NS_MULTI_PROPERTIES);
    sheetPage.pszTitle = title.c_str();
    sheetPage.pfnDlgProc = PageProc;
    sheetPage.pfnCallback = PageCallback;
    sheetPage.lParam = reinterpret_cast<LPARAM>(page.Get());
    const std::string caption = MultiPropertiesCaption(names);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = GetActiveWindow();
    header.pszCaption = caption.c_str();
    header.nPages = 1;
    header.ppsp = &sheetPage;
    return PropertySheetA(&header);
}

void ShowMultiProperties(const std::string& folderPath, const std::vector<std::string>& names) {
    auto request = std::make_unique<SheetRequest>(SheetRequest{folderPath, names});
    com::ModuleLock::Lock();
    HANDLE thread = CreateThread(nullptr, 0, SheetThread, request.get(), 0, nullptr);
    if (!thread) {
        com::ModuleLock::Unlock();
        return;
    }
    request.release();
    CloseHandle(thread);
}

} // namespace tv::shellns
