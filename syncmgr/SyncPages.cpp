#include "SyncPages.h"
#include "AnsiText.h"
#include "HResult.h"
#include "ItemName.h"
#include "LangIds.h"
#include "MarshalledInterface.h"
#include "MessagePump.h"
#include "SyncText.h"
#include <commctrl.h>
#include <memory>

namespace tv::sync {
namespace {

constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";
constexpr char kIsGuestValue[] = "IsGuest";
constexpr char kAlertValue[] = "DisconnectionAlert";
constexpr DWORD kDeviceInfoWaitMs = 10000;
constexpr long kIdLength = 256;
constexpr int kListNameLength = 256;

std::string DeviceIdOf(IZvDevice* device) {
    unsigned char id[kIdLength] = {};
    if (FAILED(device->GetStrID(kIdLength, id)))
        return {};
    id[kIdLength - 1] = 0;
    return reinterpret_cast<const char*>(id);
}

HRESULT OpenDeviceKey(const std::string& id, REGSAM access, com::UniqueHKey& key) {
    if (!IsDeviceKeyName(id))
        return E_INVALIDARG;
    const std::string path = std::string(kDeviceListKey) + "\\" + id;
    return com::Win32ToHResult(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, access, key.Put()));
}

DWORD ReadDword(HKEY key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

HRESULT WriteDword(const std::string& id, const char* name, DWORD value) {
    com::UniqueHKey key;
    TV_RETURN_IF_FAILED(OpenDeviceKey(id, KEY_SET_VALUE, key));
    return com::Win32ToHResult(
        RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

void AddColumn(HWND list, int index, const char* header, int width) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(header);
    column.cx = width;
    column.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

int AddItem(HWND list, const std::string& text) {
    std::string copy = text;
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = copy.data();
    return static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void SetSubItem(HWND list, int index, int column, const std::string& text) {
    std::string copy = text;
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = copy.data();
    SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
}

// Gathers the information texts of a hub operation and notes its end.
class InformationListener : public com::ComObject<InformationListener, IZvFileOperationCallback> {
  public:
    HRESULT FinalConstruct() {
        done_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        return done_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP OnOperationComplete() override {
        SetEvent(done_.Get());
        return S_OK;
    }
    // The program's hub hands the information over as the text of its one completed item and
    // ends there; a failed item's text is an error, not information.
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR strText, LONG nErrorCode) override {
        if (nErrorCode == 0 && strText)
            completed_ = strText;
        SetEvent(done_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR strInfo) override {
        if (strInfo)
            text_ += strInfo;
        return S_OK;
    }
    HANDLE Done() const { return done_.Get(); }
    const std::string& Text() const { return text_.empty() ? completed_ : text_; }

  private:
    com::UniqueHandle done_;
    std::string text_;
    std::string completed_;
};

struct TuneStart {
    IStream* synchronizer = nullptr;
    std::string deviceId;
};

DWORD WINAPI TuneThreadProc(void* parameter) {
    std::unique_ptr<TuneStart> start(static_cast<TuneStart*>(parameter));
    com::ComApartment apartment;
    if (FAILED(apartment.Result()))
        return static_cast<DWORD>(apartment.Result());
    com::ComPtr<IZvSynchronizer> synchronizer;
    HRESULT hr =
        CoGetInterfaceAndReleaseStream(std::exchange(start->synchronizer, nullptr), __uuidof(IZvSynchronizer),
                                       reinterpret_cast<void**>(&synchronizer));
    if (FAILED(hr))
        return static_cast<DWORD>(hr);
    return static_cast<DWORD>(synchronizer->Tune(start->deviceId.data()));
}

} // namespace

void RefreshDeviceNames(IZelvanMgr* hub) {
    com::ComPtr<IZvEnumFileItems> devices;
    char root[] = "";
    if (!hub || FAILED(hub->EnumFileItems(root, 1, &devices)) || !devices)
        return;
    ZVFILEITEM item = {};
    LONG fetched = 0;
    while (devices->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        CoTaskMemFree(item.strName);
        CoTaskMemFree(item.strDesc);
        CoTaskMemFree(item.strIconFile);
        item = {};
    }
}

// ---- the device and the manager ----

HRESULT SyncPageCore::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 0)
        return S_OK; // the sheet lets go of its objects
    if (count < 2 || !objects || !objects[0] || !objects[1])
        return E_INVALIDARG;
    com::ComPtr<IZvDevice> device;
    com::ComPtr<IZvSyncMgr> manager;
    if (FAILED(objects[0]->QueryInterface(__uuidof(IZvDevice), reinterpret_cast<void**>(&device))) ||
        FAILED(objects[1]->QueryInterface(__uuidof(IZvSyncMgr), reinterpret_cast<void**>(&manager))))
        return E_INVALIDARG;
    deviceId_ = DeviceIdOf(device.Get());
    if (!IsDeviceKeyName(deviceId_))
        return E_INVALIDARG;
    long submodel = 0;
    TV_RETURN_IF_FAILED(device->GetVersion(&modelVersion_, &submodel));
    manager_ = manager;
    return S_OK;
}

// ---- which synchronizers run ----

HRESULT SyncOptionsCore::FillControls() {
    HWND list = GetDlgItem(Window(), IDC_OPTIONS_SYNC_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    RECT client = {};
    GetClientRect(list, &client);
    AddColumn(list, 0, "", client.right - GetSystemMetrics(SM_CXVSCROLL));
    rows_.clear();
    filling_ = true;
    com::ComPtr<IZvEnumSyncComponents> components;
    HRESULT hr = manager_ ? manager_->EnumComponents3(&components) : E_UNEXPECTED;
    for (; SUCCEEDED(hr);) {
        Row row{};
        LONG fetched = 0;
        hr = components->Next(1, &row.synchronizer, &row.clsid, &fetched);
        if (hr != S_OK || fetched != 1)
            break;
        if (row.synchronizer->IsCompatible(deviceId_.data()) != S_OK)
            continue;
        row.synchronizer->SetParentWindow(reinterpret_cast<ULONG_PTR>(Window()));
        unsigned char name[kListNameLength] = {};
        if (FAILED(hr = row.synchronizer->GetUserFriendlyName(kListNameLength, name)))
            break;
        name[kListNameLength - 1] = 0;
        const int index = AddItem(list, reinterpret_cast<const char*>(name));
        row.shownChecked = manager_->IsComponentScheduled(&row.clsid, deviceId_.data()) == S_OK;
        ListView_SetCheckState(list, index, row.shownChecked);
        rows_.push_back(row);
    }
    filling_ = false;
    EnableWindow(GetDlgItem(Window(), IDC_OPTIONS_TUNE), FALSE);
    const bool automatic = modelVersion_ >= 21;
    EnableWindow(GetDlgItem(Window(), IDC_OPTIONS_AUTO_SYNC), automatic);
    LONG syncTime = 0;
    autoSyncShown_ = false;
    if (automatic && manager_ && SUCCEEDED(manager_->get_SyncTime(deviceId_.data(), &syncTime))) {
        autoSyncShown_ = syncTime != 0;
        CheckDlgButton(Window(), IDC_OPTIONS_AUTO_SYNC, autoSyncShown_ ? BST_CHECKED : BST_UNCHECKED);
    }
    return FAILED(hr) ? hr : S_OK;
}

int SyncOptionsCore::SelectedRow() const {
    return ListView_GetNextItem(GetDlgItem(Window(), IDC_OPTIONS_SYNC_LIST), -1, LVNI_SELECTED);
}

bool SyncOptionsCore::OnNotify(NMHDR* header) {
    if (header->idFrom != IDC_OPTIONS_SYNC_LIST || filling_)
        return false;
    if (header->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if (!(change->uChanged & LVIF_STATE))
            return false;
        if ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK)
            SetDirty(true);
        if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED) &&
            change->iItem >= 0 && static_cast<size_t>(change->iItem) < rows_.size())
            EnableWindow(GetDlgItem(Window(), IDC_OPTIONS_TUNE),
                         rows_[change->iItem].synchronizer->IsTunable() == S_OK);
        return true;
    }
    if (header->code == NM_DBLCLK && IsWindowEnabled(GetDlgItem(Window(), IDC_OPTIONS_TUNE))) {
        const int row = SelectedRow();
        if (row >= 0)
            Tune(static_cast<size_t>(row));
        return true;
    }
    return false;
}

void SyncOptionsCore::OnCommand(WORD id, WORD code) {
    if (id == IDC_OPTIONS_AUTO_SYNC && code == BN_CLICKED)
        SetDirty(true);
    else if (id == IDC_OPTIONS_TUNE && code == BN_CLICKED && SelectedRow() >= 0)
        Tune(static_cast<size_t>(SelectedRow()));
}

// The settings dialog runs on a thread of its own; the page keeps its messages flowing meanwhile.
HRESULT SyncOptionsCore::Tune(size_t row) {
    if (row >= rows_.size())
        return E_INVALIDARG;
    auto start = std::make_unique<TuneStart>();
    start->deviceId = deviceId_;
    TV_RETURN_IF_FAILED(CoMarshalInterThreadInterfaceInStream(
        __uuidof(IZvSynchronizer), rows_[row].synchronizer.Get(), &start->synchronizer));
    com::UniqueHandle thread(CreateThread(nullptr, 0, TuneThreadProc, start.get(), 0, nullptr));
    if (!thread) {
        const LARGE_INTEGER origin = {};
        start->synchronizer->Seek(origin, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(start->synchronizer);
        start->synchronizer->Release();
        return E_FAIL;
    }
    start.release();
    if (!WaitForThreadWithPump(thread.Get()))
        return E_FAIL;
    DWORD result = 0;
    GetExitCodeThread(thread.Get(), &result);
    return static_cast<HRESULT>(result);
}

// Only what the user changed on this page is written: a second page open for the same device,
// or an edit of the stores meanwhile, keeps the changes it made to the other rows.
HRESULT SyncOptionsCore::ApplyChanges() {
    HWND list = GetDlgItem(Window(), IDC_OPTIONS_SYNC_LIST);
    for (size_t i = 0; i < rows_.size(); ++i) {
        Row& row = rows_[i];
        const bool checked = ListView_GetCheckState(list, static_cast<int>(i)) != 0;
        if (checked == row.shownChecked)
            continue;
        HRESULT scheduled = manager_->IsComponentScheduled(&row.clsid, deviceId_.data());
        TV_RETURN_IF_FAILED(scheduled);
        if (checked && scheduled != S_OK)
            TV_RETURN_IF_FAILED(manager_->ScheduleComponent(&row.clsid, deviceId_.data()));
        else if (!checked && scheduled == S_OK)
            TV_RETURN_IF_FAILED(manager_->UnscheduleComponent(&row.clsid, deviceId_.data()));
        row.shownChecked = checked;
    }
    // A device that cannot synchronize by itself always stores 0.
    const bool automatic = IsWindowEnabled(GetDlgItem(Window(), IDC_OPTIONS_AUTO_SYNC)) != FALSE;
    const bool autoSync = automatic && IsDlgButtonChecked(Window(), IDC_OPTIONS_AUTO_SYNC) == BST_CHECKED;
    if (!automatic || autoSync != autoSyncShown_) {
        TV_RETURN_IF_FAILED(manager_->put_SyncTime(deviceId_.data(), autoSync ? 1 : 0));
        autoSyncShown_ = autoSync;
    }
    SetDirty(false);
    return S_OK;
}

// ---- conflicts ----

HRESULT SyncRulesCore::FillControls() {
    if (!manager_)
        return E_UNEXPECTED;
    ZVSYNCRESOLUTION resolution = SSR_MANUAL_RESOLUTION;
    TV_RETURN_IF_FAILED(manager_->get_ConflictResolution(deviceId_.data(), &resolution));
    const int checked = resolution == SSR_REPLACE_ON_DEVICE     ? IDC_RULES_REPLACE_DEVICE
                        : resolution == SSR_REPLACE_ON_COMPUTER ? IDC_RULES_REPLACE_COMPUTER
                                                                : IDC_RULES_MANUAL;
    CheckRadioButton(Window(), IDC_RULES_MANUAL, IDC_RULES_REPLACE_COMPUTER, checked);
    return S_OK;
}

void SyncRulesCore::OnCommand(WORD id, WORD code) {
    if (id >= IDC_RULES_MANUAL && id <= IDC_RULES_REPLACE_COMPUTER && code == BN_CLICKED)
        SetDirty(true);
}

HRESULT SyncRulesCore::ApplyChanges() {
    const ZVSYNCRESOLUTION resolution =
        IsDlgButtonChecked(Window(), IDC_RULES_REPLACE_DEVICE) == BST_CHECKED     ? SSR_REPLACE_ON_DEVICE
        : IsDlgButtonChecked(Window(), IDC_RULES_REPLACE_COMPUTER) == BST_CHECKED ? SSR_REPLACE_ON_COMPUTER
                                                                                  : SSR_MANUAL_RESOLUTION;
    TV_RETURN_IF_FAILED(manager_->put_ConflictResolution(deviceId_.data(), resolution));
    SetDirty(false);
    return S_OK;
}

// ---- the device's options ----

HRESULT DeviceOptionsCore::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 0)
        return S_OK;
    if (count < 4 || !objects || !objects[0] || !objects[3])
        return E_INVALIDARG;
    com::ComPtr<IZvDevice> device;
    com::ComPtr<IZelvanMgr> hub;
    if (FAILED(objects[0]->QueryInterface(__uuidof(IZvDevice), reinterpret_cast<void**>(&device))) ||
        FAILED(objects[3]->QueryInterface(__uuidof(IZelvanMgr), reinterpret_cast<void**>(&hub))))
        return E_INVALIDARG;
    RegisterWindowMessageA(LanguageText(IDS_MSG_REFRESH_VIEWS).c_str());
    deviceId_ = DeviceIdOf(device.Get());
    if (!IsDeviceKeyName(deviceId_))
        return E_INVALIDARG;
    device_ = device;
    hub_ = hub;
    unsigned char name[kIdLength] = {};
    TV_RETURN_IF_FAILED(device->GetName(kIdLength, name));
    name[kIdLength - 1] = 0;
    shownName_ = name_ = reinterpret_cast<const char*>(name);
    TV_RETURN_IF_FAILED(device->GetDeviceAuxData(&auxData_));
    com::UniqueHKey key;
    TV_RETURN_IF_FAILED(OpenDeviceKey(deviceId_, KEY_READ, key));
    isGuest_ = ReadDword(key.Get(), kIsGuestValue);
    if (auxData_ == 1)
        return S_OK;
    com::ComPtr<InformationListener> listener;
    TV_RETURN_IF_FAILED(com::MakeComObject(listener));
    TV_RETURN_IF_FAILED(hub_->GetDeviceInfo(deviceId_.data(), listener.Get()));
    if (!WaitWithMessagePump(listener->Done(), kDeviceInfoWaitMs) || listener->Text().empty())
        return E_FAIL;
    information_ = listener->Text();
    return S_OK;
}

HRESULT DeviceOptionsCore::FillControls() {
    filling_ = true;
    SetControlText(IDC_DEVOPT_ID, deviceId_);
    SetControlText(IDC_DEVOPT_NAME, shownName_);
    SendDlgItemMessageA(Window(), IDC_DEVOPT_NAME, EM_SETREADONLY, auxData_ == 1, 0);
    CheckRadioButton(Window(), IDC_DEVOPT_NOT_GUEST, IDC_DEVOPT_GUEST,
                     isGuest_ ? IDC_DEVOPT_GUEST : IDC_DEVOPT_NOT_GUEST);
    HWND list = GetDlgItem(Window(), IDC_DEVOPT_INFO);
    AddColumn(list, 0, "Type       ", 80);
    AddColumn(list, 1, "Value       ", 80);
    const std::string text = information_.empty() ? LanguageText(IDS_HUB_NO_DEVICE_INFO) : information_;
    int widest = 0;
    for (const auto& [type, value] : SplitDeviceInfo(text)) {
        const int index = AddItem(list, type);
        SetSubItem(list, index, 1, value);
        widest = std::max(widest, static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0,
                                                                reinterpret_cast<LPARAM>(type.c_str()))));
    }
    RECT client = {};
    GetClientRect(list, &client);
    ListView_SetColumnWidth(list, 0, widest + 8);
    ListView_SetColumnWidth(list, 1, std::max(0, static_cast<int>(client.right) - (widest + 8) - 12));
    com::UniqueHKey key;
    if (SUCCEEDED(OpenDeviceKey(deviceId_, KEY_READ, key)))
        CheckDlgButton(Window(), IDC_DEVOPT_ALERT,
                       ReadDword(key.Get(), kAlertValue) ? BST_CHECKED : BST_UNCHECKED);
    filling_ = false;
    return S_OK;
}

void DeviceOptionsCore::OnCommand(WORD id, WORD code) {
    if (filling_)
        return;
    if (id == IDC_DEVOPT_NAME && code == EN_CHANGE) {
        std::string typed = ControlText(IDC_DEVOPT_NAME, kIdLength);
        if (typed.empty())
            return;
        std::string checked = typed;
        if (ValidateItemName(checked)) {
            name_ = checked;
            SetDirty(true);
            return;
        }
        ShowMessage(Window(), LanguageText(IDS_DEVICE_BAD_NAME), IDS_DEVICE_BAD_NAME_CAPTION,
                    MB_OK | MB_ICONWARNING);
        filling_ = true;
        SetControlText(IDC_DEVOPT_NAME, name_);
        filling_ = false;
        return;
    }
    if ((id == IDC_DEVOPT_NOT_GUEST || id == IDC_DEVOPT_GUEST || id == IDC_DEVOPT_ALERT) &&
        code == BN_CLICKED)
        SetDirty(true);
}

HRESULT DeviceOptionsCore::ApplyChanges() {
    TV_RETURN_IF_FAILED(WriteDword(deviceId_, kIsGuestValue,
                                   IsDlgButtonChecked(Window(), IDC_DEVOPT_GUEST) == BST_CHECKED ? 1 : 0));
    if (auxData_ != 1) {
        HRESULT hr = device_->SetDeviceName(name_.data());
        if (FAILED(hr)) {
            const bool pending = hr == E_PENDING;
            ShowMessage(Window(), LanguageText(pending ? IDS_DEVICE_NAME_PENDING : IDS_DEVICE_RENAME_FAILED),
                        IDS_DEVICE_BAD_NAME_CAPTION, MB_OK | MB_ICONWARNING);
            if (pending) {
                filling_ = true;
                SetControlText(IDC_DEVOPT_NAME, shownName_);
                name_ = shownName_;
                filling_ = false;
            }
            return hr;
        }
        shownName_ = name_;
        RefreshDeviceNames(hub_.Get());
    }
    TV_RETURN_IF_FAILED(WriteDword(deviceId_, kAlertValue,
                                   IsDlgButtonChecked(Window(), IDC_DEVOPT_ALERT) == BST_CHECKED ? 1 : 0));
    SetDirty(false);
    return S_OK;
}

// ---- the web page ----

namespace {

// The smallest site the web-browser control can be activated in place in: it names the host
// window and its rectangle and accepts every notification.
class BrowserSite : public com::ComObject<BrowserSite, IOleClientSite, IOleInPlaceSite> {
  public:
    explicit BrowserSite(HWND host) : host_(host) {}
    void* QueryOtherInterface(REFIID riid) {
        return IsEqualIID(riid, IID_IOleWindow) ? static_cast<IOleInPlaceSite*>(this) : nullptr;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window)
            return E_POINTER;
        *window = host_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        if (!frame || !document || !position || !clip)
            return E_POINTER;
        *frame = nullptr;
        *document = nullptr;
        GetClientRect(host_, position);
        *clip = *position;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = GetAncestor(host_, GA_ROOT);
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return S_FALSE; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  private:
    HWND host_;
};

// The HTML engine's document class, which the browser control needs to show any page.
constexpr CLSID kHtmlDocumentClass = {
    0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

// The start page: a local page, never a network address.
constexpr wchar_t kStartPage[] = L"about:blank";

} // namespace

TvlPlusCore::~TvlPlusCore() {
    CloseBrowser();
}

void TvlPlusCore::CloseBrowser() {
    if (browser_) {
        browser_->Close(OLECLOSE_NOSAVE);
        browser_->SetClientSite(nullptr);
        browser_.Reset();
    }
    site_.Reset();
    if (host_) {
        DestroyWindow(host_);
        host_ = nullptr;
    }
}

HRESULT TvlPlusCore::Deactivate() {
    CloseBrowser();
    return ItemPageCore::Deactivate();
}

HRESULT TvlPlusCore::FillControls() {
    HWND area = GetDlgItem(Window(), IDC_TVL_PLUS_BROWSER);
    RECT rect = {};
    GetWindowRect(area, &rect);
    MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&rect), 2);
    host_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                            rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, Window(),
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!host_)
        return com::LastErrorHResult();
    com::ComPtr<BrowserSite> site;
    HRESULT hr = com::MakeComObject(site, host_);
    // The browser control is only a frame: without the HTML engine behind it no page can show.
    com::ComPtr<IUnknown> engine;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kHtmlDocumentClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(&engine));
    engine.Reset();
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              reinterpret_cast<void**>(&browser_));
    if (SUCCEEDED(hr)) {
        site_ = static_cast<IOleClientSite*>(site.Get());
        hr = browser_->SetClientSite(site_.Get());
    }
    RECT client = {};
    GetClientRect(host_, &client);
    if (SUCCEEDED(hr))
        hr = browser_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, host_, &client);
    com::ComPtr<IWebBrowser2> web;
    if (SUCCEEDED(hr))
        hr = browser_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&web));
    if (SUCCEEDED(hr)) {
        com::UniqueBstr page(SysAllocString(kStartPage));
        VARIANT empty;
        VariantInit(&empty);
        hr = web->Navigate(page.Get(), &empty, &empty, &empty, &empty);
    }
    if (FAILED(hr)) {
        // No browser engine on this computer: the page says so instead of showing an empty frame.
        CloseBrowser();
        host_ = nullptr;
        SetControlText(IDC_TVL_PLUS_STATUS, LanguageText(IDS_TVL_PLUS_NO_BROWSER));
    }
    return S_OK;
}

} // namespace tv::sync
