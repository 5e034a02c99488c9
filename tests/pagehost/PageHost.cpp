#include "PageHost.h"
#include "AnsiText.h"
#include "ComObject.h"
#include "DevicePropertySheet.h"
#include "LanguageLibrary.h"
#include "PropPageData.h"
#include "ServedHub.h"
#include "UiHarness.h"
#include "HubIds.h"
#include <commctrl.h>
#include <shellapi.h>
#include <cstring>
#include <fstream>

namespace tv::test {
namespace {

// Hands the item to the page once, as the hub's data object does.
class ShownItemData : public com::ComObject<ShownItemData, IZvPropPageData> {
  public:
    explicit ShownItemData(const ShownItem& item) : item_(item) {}
    STDMETHODIMP GetItem(ZVFILEITEM* out) override {
        if (!out)
            return E_POINTER;
        if (taken_)
            return E_UNEXPECTED;
        taken_ = true;
        *out = {};
        out->type = item_.type;
        out->attr = item_.attr;
        out->nSize = item_.size;
        out->strName = com::TaskTextCopy(item_.name);
        out->strDesc = com::TaskTextCopy(item_.folder);
        out->strIconFile = com::TaskTextCopy("");
        out->nTimeLow = static_cast<long>(item_.time.dwLowDateTime);
        out->nTimeHigh = static_cast<long>(item_.time.dwHighDateTime);
        return S_OK;
    }
    STDMETHODIMP Unused4() override { return E_NOTIMPL; }
    STDMETHODIMP SetItem(const ZVFILEITEM*) override { return E_NOTIMPL; }
    STDMETHODIMP Unused6() override { return E_NOTIMPL; }

  private:
    ShownItem item_;
    bool taken_ = false;
};

// Registers a class object in the calling apartment for its lifetime.
class RegisteredClass {
  public:
    RegisteredClass(REFCLSID clsid, IUnknown* classObject) {
        if (FAILED(CoRegisterClassObject(clsid, classObject, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                         &cookie_)))
            cookie_ = 0;
    }
    RegisteredClass(const RegisteredClass&) = delete;
    RegisteredClass& operator=(const RegisteredClass&) = delete;
    ~RegisteredClass() {
        if (cookie_)
            CoRevokeClassObject(cookie_);
    }

  private:
    DWORD cookie_ = 0;
};

} // namespace

TestDeviceFolders::TestDeviceFolders() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    static int counter = 0;
    root_ = std::string(folder) + "tvpages" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter);
    CreateDirectoryA(root_.c_str(), nullptr);
    CreateDirectoryA((root_ + "\\devices").c_str(), nullptr);
}

TestDeviceFolders::~TestDeviceFolders() {
    // Attributes set by the tests would keep files from going.
    std::string from = root_ + '\0';
    SHFILEOPSTRUCTA operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationA(&operation);
}

std::string TestDeviceFolders::PcPath(const std::string& devicePath) const {
    return root_ + "\\devices\\" + devicePath;
}

void TestDeviceFolders::MakeFolder(const std::string& devicePath) const {
    CreateDirectoryA(PcPath(devicePath).c_str(), nullptr);
}

void TestDeviceFolders::WriteFile(const std::string& devicePath, const std::string& text) const {
    std::ofstream(PcPath(devicePath), std::ios::binary) << text;
}

bool TestDeviceFolders::Exists(const std::string& devicePath) const {
    return GetFileAttributesA(PcPath(devicePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD TestDeviceFolders::Attributes(const std::string& devicePath) const {
    return GetFileAttributesA(PcPath(devicePath).c_str());
}

PageSheetRun::PageSheetRun(const TestDeviceFolders& devices, std::string caption,
                           std::vector<PageClass> pages, ShownItem item)
    : caption_(std::move(caption)), deviceRoot_(devices.Root() + "\\devices"),
      thread_([this, pages = std::move(pages), item = std::move(item)]() mutable {
          Run(std::move(pages), item);
      }) {}

void PageSheetRun::Run(std::vector<PageClass> pages, ShownItem item) {
    com::ComApartment apartment;
    if (FAILED(apartment.Result()))
        return;
    com::UniqueModule language(LoadLanguageLibrary(GetModuleHandleA(nullptr)));
    ServedHub hub;
    if (FAILED(hub.Start(deviceRoot_)))
        return;
    std::vector<std::unique_ptr<RegisteredClass>> servedPages;
    for (const PageClass& page : pages)
        servedPages.push_back(std::make_unique<RegisteredClass>(page.first, page.second.Get()));
    com::ComPtr<ShownItemData> data;
    if (FAILED(com::MakeComObject(data, item)))
        return;
    DevicePropertySheet sheet(language.Get());
    sheet.Setup(caption_, {static_cast<IZvPropPageData*>(data.Get())});
    sheet.SetItemData({item.name});
    for (const PageClass& page : pages)
        sheet.AddPage(page.first);
    result_ = sheet.Show();
}

HWND PageSheetRun::WaitForSheet(DWORD timeoutMs) const {
    return WaitForOwnDialog(std::wstring(caption_.begin(), caption_.end()), timeoutMs);
}

HRESULT PageFromDeliverable(const wchar_t* dll, REFCLSID clsid, com::ComPtr<IPropertyPage>& page) {
    // Test programs live in tests\bin, the deliverables in bin.
    std::wstring path = ExeFolder() + L"\\..\\..\\bin\\" + dll;
    HMODULE module = LoadLibraryW(path.c_str()); // stays loaded: its objects may outlive the call
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject)
        return E_FAIL;
    com::ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page));
}

std::pair<HWND, HWND> PageSheetRun::WaitForPage(DWORD timeoutMs) const {
    HWND sheet = WaitForSheet(timeoutMs);
    return {sheet, sheet ? ShownPage(sheet) : nullptr};
}

HWND ShownPage(HWND sheet) {
    for (int i = 0; i < 100; ++i) {
        HWND child = nullptr;
        while ((child = FindWindowExA(sheet, child, "#32770", nullptr)))
            if (IsWindowVisible(child))
                return child;
        Sleep(50);
    }
    return nullptr;
}

std::string ControlText(HWND page, int id) {
    char text[1024] = {};
    GetDlgItemTextA(page, id, text, sizeof(text));
    return text;
}

std::string WaitForControlText(HWND page, int id, const std::string& wanted, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    std::string text = ControlText(page, id);
    while (text != wanted && GetTickCount() - start < timeoutMs) {
        Sleep(50);
        text = ControlText(page, id);
    }
    return text;
}

// A dialog of this process with that caption: other test programs on the same desktop may show
// boxes with the same caption meanwhile.
HWND WaitForOwnDialog(const std::wstring& caption, DWORD timeoutMs) {
    struct Search {
        const std::wstring* caption;
        HWND found;
    } search = {&caption, nullptr};
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(
            [](HWND window, LPARAM parameter) -> BOOL {
                auto* wanted = reinterpret_cast<Search*>(parameter);
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                wchar_t className[16] = {}, text[256] = {};
                GetClassNameW(window, className, 16);
                GetWindowTextW(window, text, 256);
                if (process != GetCurrentProcessId() || wcscmp(className, L"#32770") ||
                    *wanted->caption != text)
                    return TRUE;
                wanted->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start >= timeoutMs)
            return search.found;
        Sleep(50);
    }
}

bool DismissMessageBox(const std::wstring& caption, DWORD timeoutMs) {
    HWND box = WaitForOwnDialog(caption, timeoutMs);
    if (!box)
        return false;
    Sleep(200); // lets the box paint, for screenshots taken meanwhile
    if (!ClickButton(box, IDOK))
        return false;
    for (int i = 0; i < 100 && IsWindow(box); ++i)
        Sleep(50);
    return !IsWindow(box);
}

std::string TabTitle(HWND sheet) {
    char tab[64] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = tab;
    item.cchTextMax = sizeof(tab);
    SendDlgItemMessageA(sheet, IDC_SHEET_TABS, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return tab;
}

bool WaitForApplyEnabled(HWND sheet) {
    for (int i = 0; i < 100; ++i) {
        if (IsWindowEnabled(GetDlgItem(sheet, IDC_SHEET_APPLY)))
            return true;
        Sleep(50);
    }
    return false;
}

bool WaitForClose(HWND sheet, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(sheet) && GetTickCount() - start < timeoutMs)
        Sleep(50);
    return !IsWindow(sheet);
}

void SaveShot(const std::wstring& name) {
    Sleep(400); // lets the windows paint
    SaveScreenshot(ExeFolder() + L"\\" + name);
}

} // namespace tv::test
