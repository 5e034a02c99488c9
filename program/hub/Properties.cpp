// Property sheets of a device or of an item on a device, each on a thread of its own: the
// device's sheet shows the pages of the "ZvProperties" providers with the device, the two
// managers and the hub as their objects; an item's sheet shows the pages the device names for
// the item's type, which read the item through a ZvPropPageData object.
#include "DevicePath.h"
#include "AnsiText.h"
#include "DevicePropertySheet.h"
#include "Hub.h"
#include "HubIds.h"
#include "MarshalledInterface.h"
#include "PropPageData.h"
#include "ZvBackupMgr.h"
#include "ZvSyncMgr.h"
#include <comcat.h>
#include <cstdio>
#include <cstring>

namespace tv::hub {
namespace {

constexpr CATID kCategoryProperties = {
    0xc4ab9394, 0xbd09, 0x417e, {0xa9, 0xbc, 0x28, 0x02, 0xc6, 0xfe, 0x81, 0x74}};
constexpr DWORD kManagerContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

std::string FormatText(const std::string& pattern, const std::string& argument) {
    std::vector<char> buffer(pattern.size() + argument.size() + 1);
    std::snprintf(buffer.data(), buffer.size(), pattern.c_str(), argument.c_str());
    return buffer.data();
}

// The item record an item page takes; it can be taken once and is freed with the object.
class ZvPropPageData : public com::ComObject<ZvPropPageData, IZvPropPageData> {
public:
    ~ZvPropPageData() override { Free(); }

    STDMETHODIMP GetItem(ZVFILEITEM* item) override {
        if (!item)
            return E_POINTER;
        if (!stored_)
            return E_UNEXPECTED;
        *item = item_;
        item_ = {};
        stored_ = false;
        return S_OK;
    }
    STDMETHODIMP Unused4() override { return E_NOTIMPL; }
    STDMETHODIMP SetItem(const ZVFILEITEM* item) override {
        if (!item)
            return E_POINTER;
        Free();
        item_ = *item;
        stored_ = true;
        return S_OK;
    }
    STDMETHODIMP Unused6() override { return E_NOTIMPL; }

private:
    void Free() {
        CoTaskMemFree(item_.strName);
        CoTaskMemFree(item_.strDesc);
        CoTaskMemFree(item_.strIconFile);
        item_ = {};
    }

    ZVFILEITEM item_ = {};
    bool stored_ = false;
};

// What DisplayProperties hands its thread. The thread reaches the hub only through its
// proxy; what else it needs of the hub is copied or shared, so that it never depends on the
// hub object itself, which may be disconnected and go while a sheet is still open.
struct PropertiesRequest {
    std::shared_ptr<SheetRegistry> sheets;
    UINT updateMessage = 0;
    std::string languagePath;
    com::UniqueModule language;
    std::string itemPath;
    std::string key;
    std::string deviceName;
    std::string deviceStrId;
    bool hasItem = false;
    ZVFILEITEM item = {};  // numbers only; the texts are below
    std::string iconFile;
    MarshalledInterface device;
    MarshalledInterface hubForPages;
};

HRESULT CollectPropertyPageProviders(std::vector<CLSID>& pages) {
    com::ComPtr<ICatInformation> categories;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_ICatInformation,
                                  reinterpret_cast<void**>(&categories));
    if (FAILED(hr))
        return hr;
    CATID wanted = kCategoryProperties;
    com::ComPtr<IEnumCLSID> classes;
    if (FAILED(hr = categories->EnumClassesOfCategories(1, &wanted, 0, nullptr, &classes)))
        return hr;
    std::vector<CLSID> providers;
    CLSID clsid;
    ULONG fetched = 0;
    while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1)
        providers.push_back(clsid);
    for (const CLSID& provider : providers) {
        com::ComPtr<ISpecifyPropertyPages> specify;
        if (FAILED(hr = CoCreateInstance(provider, nullptr, CLSCTX_INPROC_SERVER, IID_ISpecifyPropertyPages,
                                         reinterpret_cast<void**>(&specify))))
            return hr;
        CAUUID named = {};
        if (FAILED(hr = specify->GetPages(&named)))
            return hr;
        pages.insert(pages.end(), named.pElems, named.pElems + named.cElems);
        CoTaskMemFree(named.pElems);
    }
    return S_OK;
}

// Shows the sheet registered under the request's key; false when a sheet for that key is
// open already (it was brought forward).
bool RunRegistered(DevicePropertySheet& sheet, PropertiesRequest& request) {
    if (!request.sheets->Reserve(request.key))
        return false;
    sheet.SetWindowCreatedHandler([&request](HWND window) { request.sheets->SetWindow(request.key, window); });
    sheet.Show();
    request.sheets->Forget(request.key);
    return true;
}

void ShowDeviceSheet(PropertiesRequest& request, IZvDevice* device, IZelvanMgr* hub) {
    std::vector<CLSID> pages;
    if (FAILED(CollectPropertyPageProviders(pages)))
        return;
    std::string shown = _stricmp(request.deviceName.c_str(), request.deviceStrId.c_str()) != 0
                            ? request.deviceName + " <" + request.deviceStrId + ">"
                            : request.deviceStrId;
    std::string title = FormatText(LoadLanguageText(request.language.Get(), IDS_HUB_DEVICE_PROPERTIES), shown);
    // Without the managers there is no device sheet.
    com::ComPtr<IZvSyncMgr> sync;
    com::ComPtr<IZvBackupMgr> backup;
    if (FAILED(CoCreateInstance(CLSID_ZvSyncMgr, nullptr, kManagerContext, __uuidof(IZvSyncMgr),
                                reinterpret_cast<void**>(&sync))) ||
        FAILED(CoCreateInstance(CLSID_ZvBackupMgr, nullptr, kManagerContext, __uuidof(IZvBackupMgr),
                                reinterpret_cast<void**>(&backup))))
        return;
    if (FAILED(device->SetDeviceAuxData(0)))
        return;
    DevicePropertySheet sheet(request.language.Get());
    sheet.Setup(title, {device, sync.Get(), backup.Get(), hub});
    for (const CLSID& page : pages)
        sheet.AddPage(page);
    if (RunRegistered(sheet, request))
        hub->Refresh();
}

void ShowItemSheet(PropertiesRequest& request, IZvDevice* device) {
    if (!request.hasItem)
        return;
    CAUUID named = {};
    if (FAILED(device->GetPropPageID(request.item.type, &named)))
        return;
    std::vector<CLSID> pages(named.pElems, named.pElems + named.cElems);
    CoTaskMemFree(named.pElems);

    // The page sees the item's name and the path of the folder holding it.
    const std::string& path = request.itemPath;
    size_t separator = path.rfind('\\');
    if (separator == std::string::npos)
        separator = path.rfind('/');
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator);
    com::ComPtr<ZvPropPageData> data;
    if (FAILED(com::MakeComObject(data)))
        return;
    ZVFILEITEM item = request.item;
    item.strName = tv::com::TaskTextCopy(name);
    item.strDesc = tv::com::TaskTextCopy(folder);
    item.strIconFile = tv::com::TaskTextCopy(request.iconFile);
    data->SetItem(&item);

    DevicePropertySheet sheet(request.language.Get());
    sheet.Setup(FormatText(LoadLanguageText(request.language.Get(), IDS_HUB_ITEM_PROPERTIES), path),
                {static_cast<IZvPropPageData*>(data.Get())});
    sheet.SetItemData({name});
    for (const CLSID& page : pages)
        sheet.AddPage(page);
    if (RunRegistered(sheet, request))
        Hub::PostToViews(request.updateMessage, true);
}

void RunProperties(PropertiesRequest& request) {
    com::ComPtr<IZelvanMgr> hub;
    com::ComPtr<IZvDevice> device;
    if (FAILED(request.hubForPages.Unmarshal(&hub)) || FAILED(request.device.Unmarshal(&device)))
        return;
    // From here the proxies keep the hub and the device alive; their last release goes to the
    // hub's own thread.
    request.hubForPages.Release();
    request.device.Release();
    if (SplitDevicePath(request.itemPath.c_str()).rest.empty())
        ShowDeviceSheet(request, device.Get(), hub.Get());
    else
        ShowItemSheet(request, device.Get());
}

// The sheet thread is not joined: it shares nothing with the hub object but the sheet registry
// (shared ownership) and the hub's proxy, whose last release goes to the hub's thread; an
// open sheet is asked to close when the hub goes.
DWORD WINAPI PropertiesThreadProc(void* parameter) {
    std::unique_ptr<PropertiesRequest> request(static_cast<PropertiesRequest*>(parameter));
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 0;
    // The sheet's own hold on the language library, which holds its dialog.
    request->language.Reset(LoadLibraryExA(request->languagePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    RunProperties(*request);
    request.reset();
    CoUninitialize();
    return 0;
}

} // namespace

STDMETHODIMP Hub::DisplayProperties(LPSTR strItem, ZVFILEITEM* Item) {
    if (!strItem)
        return E_POINTER;
    DevicePath parts = SplitDevicePath(strItem);
    if (parts.device.empty())
        return E_INVALIDARG;
    RecordPtr record = FindDeviceForOperation(parts.device);
    if (!record || !WaitDeviceIdle(record))
        return E_PENDING;
    std::string key = strItem[0] == '\\' ? strItem + 1 : strItem;
    if (sheets_->BringForward(key))
        return S_OK;

    auto request = std::make_unique<PropertiesRequest>();
    request->sheets = sheets_;
    request->updateMessage = updateMessage_;
    request->languagePath = languagePath_;
    request->itemPath = strItem;
    request->key = key;
    request->deviceName = record->name;
    request->deviceStrId = record->strID;
    if (Item) {
        request->hasItem = true;
        request->item = *Item;
        request->item.strName = request->item.strDesc = request->item.strIconFile = nullptr;
        request->iconFile = Item->strIconFile ? Item->strIconFile : "";
    }
    if (FAILED(request->device.Marshal(__uuidof(IZvDevice), record->device.Get())) ||
        FAILED(request->hubForPages.Marshal(__uuidof(IZelvanMgr), static_cast<IZelvanMgr*>(this))))
        return E_FAIL;
    HANDLE thread = CreateThread(nullptr, 0, PropertiesThreadProc, request.get(), 0, nullptr);
    if (!thread)
        return E_FAIL;
    request.release();
    CloseHandle(thread);
    return S_OK;
}

} // namespace tv::hub
