// The hub object's life, its device list and the device factories that fill it.
#include "Hub.h"
#include "AnsiText.h"
#include "DeviceEnumerators.h"
#include "LanguageLibrary.h"
#include "MessagePump.h"
#include "NamespaceLink.h"
#include <comcat.h>
#include <cstring>

namespace tv::hub {
namespace {

constexpr CATID kCategoryZelvanDevices = {
    0x689d87b0, 0x0ed4, 0x40f4, {0x9e, 0x7e, 0xc6, 0x2f, 0x57, 0xe3, 0x69, 0xa8}};
constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList\\";
constexpr char kCommonKey[] = "Software\\Zelvan\\Tavrilon\\Common";
constexpr DWORD kRemoveWaitMs = 20000;
constexpr DWORD kLostWaitMs = 30000;
constexpr LONG kTextBuffer = 260;

std::mutex g_servicesLock;
HubServices g_services;
std::atomic<Hub*> g_hub{nullptr};
std::atomic<long> g_operations{0};

HubServices Services() {
    std::lock_guard<std::mutex> guard(g_servicesLock);
    return g_services;
}

void SetTray(UINT state) {
    if (auto set = Services().setTrayState)
        set(state);
}

HRESULT ReadText(IZvDevice* device, HRESULT (STDMETHODCALLTYPE IZvDevice::*read)(LONG, unsigned char*),
                 std::string& out) {
    unsigned char buffer[kTextBuffer] = {};
    HRESULT hr = (device->*read)(kTextBuffer, buffer);
    if (SUCCEEDED(hr))
        out.assign(reinterpret_cast<char*>(buffer), strnlen(reinterpret_cast<char*>(buffer), kTextBuffer - 1));
    return hr;
}

bool ReadDword(HKEY key, const char* value, DWORD& out) {
    DWORD size = sizeof(out);
    return RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(&out), &size) == ERROR_SUCCESS;
}

bool WriteDword(HKEY key, const char* value, DWORD data) {
    return RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) ==
           ERROR_SUCCESS;
}

} // namespace

void SetHubServices(HubServices services) {
    std::lock_guard<std::mutex> guard(g_servicesLock);
    g_services = std::move(services);
}

Hub* CurrentHub() { return g_hub.load(); }

OperationBracket::OperationBracket() {
    ++g_operations;
    SetTray(kTrayBusy);
}

OperationBracket::~OperationBracket() {
    if (--g_operations == 0)
        SetTray(kTrayConnected);
}

std::string LoadLanguageText(HMODULE library, UINT id) {
    char buffer[1024] = {};
    if (!library || LoadStringA(library, id, buffer, sizeof(buffer)) <= 0)
        return {};
    return buffer;
}

// ---- DeviceRecord ----

bool DeviceRecord::Busy() {
    std::lock_guard<std::mutex> guard(lock);
    return operation != nullptr;
}

bool DeviceRecord::Cancel() {
    std::lock_guard<std::mutex> guard(lock);
    if (!operation)
        return false;
    SetEvent(operation->cancelEvent.Get());
    return true;
}

void DeviceRecord::EndOperation(const std::shared_ptr<DeviceOperation>& ended) {
    std::lock_guard<std::mutex> guard(lock);
    if (operation == ended) {
        operation.reset();
        cancelEvent = nullptr;
    }
}

com::UniqueHandle DeviceRecord::DuplicateThread() {
    std::lock_guard<std::mutex> guard(lock);
    HANDLE copy = nullptr;
    if (operation && operation->thread)
        DuplicateHandle(GetCurrentProcess(), operation->thread.Get(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                        FALSE, 0);
    return com::UniqueHandle(copy);
}

// ---- Hub: life ----

Hub::Hub() : zvWig_(*this) {}

HRESULT Hub::FinalConstruct() {
    timeout_ = 10000;
    enableUI_ = 1;
    HMODULE program = GetModuleHandleA(nullptr);
    language_.Reset(LoadLanguageLibrary(program));
    languagePath_ = BuildLanguageLibraryPath(program);
    refreshMessage_ = RegisterRefreshMessage(language_.Get());
    updateMessage_ = RegisterUpdateMessage(language_.Get());
    busyUI_ = 0;
    scriptsProhibited_ = VARIANT_FALSE;
    busyWindow_ = nullptr;
    g_hub = this;
    return S_OK;
}

void Hub::Close() {
    for (const RecordPtr& record : devices_) {
        record->Cancel();
        WaitForRecordThread(record, kLostWaitMs);
        record->device.Reset();
    }
    devices_.clear();
    NoteDevicesChanged();
    for (const auto& entry : factories_)
        entry->factory->UnAdvise(entry->cookie);
    factories_.clear();
}

Hub::~Hub() {
    if (g_hub == this)
        g_hub = nullptr;
    Close();
    if (busyWindow_ && IsWindow(busyWindow_))
        PostMessageA(busyWindow_, WM_CLOSE, 0, 0);
    sheets_->CloseAll();
    CloseRefusals();
}

void* Hub::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, __uuidof(IZelvanMgrDisp)))
        return static_cast<IZelvanMgrDisp2*>(this);
    if (IsEqualIID(riid, __uuidof(IZelvanMgrZvWig)))
        return static_cast<IZelvanMgrZvWig*>(&zvWig_);
    return nullptr;
}

STDMETHODIMP Hub::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, __uuidof(IZelvanMgrDisp)) || IsEqualIID(riid, __uuidof(IZelvanMgrDisp2)) ? S_OK
                                                                                                     : S_FALSE;
}

// ---- factories ----

STDMETHODIMP Hub::InitDeviceFactories() {
    com::ComPtr<ICatInformation> categories;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatInformation, reinterpret_cast<void**>(&categories));
    if (FAILED(hr))
        return hr;
    CATID wanted = kCategoryZelvanDevices;
    com::ComPtr<IEnumCLSID> classes;
    hr = categories->EnumClassesOfCategories(1, &wanted, 0, nullptr, &classes);
    if (FAILED(hr))
        return hr;
    DWORD langId = ReadLangId();
    for (;;) {
        CLSID clsid;
        ULONG fetched = 0;
        hr = classes->Next(1, &clsid, &fetched);
        if (hr != S_OK || fetched == 0)
            return FAILED(hr) ? hr : S_OK;
        auto entry = std::make_unique<FactoryEntry>();
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvFactory),
                                    reinterpret_cast<void**>(&entry->factory))))
            continue;
        entry->factory->SetLangId(static_cast<LONG>(langId));
        entry->clsid = clsid;
        FactoryEntry* added = entry.get();
        factories_.push_back(std::move(entry));
        // Factories report the devices already present from within Advise.
        if (FAILED(added->factory->Advise(static_cast<IZvFactoryCallback*>(this), &added->cookie))) {
            auto it = std::find_if(factories_.begin(), factories_.end(),
                                   [added](const auto& e) { return e.get() == added; });
            if (it != factories_.end())
                factories_.erase(it);
        }
    }
}

// ---- the device list ----

RecordPtr Hub::FindDeviceRecord(const char* text) const {
    if (!text)
        return nullptr;
    for (const RecordPtr& record : devices_)
        if (record->name == text)
            return record;
    for (const RecordPtr& record : devices_)
        if (record->strID == text)
            return record;
    return nullptr;
}

bool Hub::HasVisibleDevice() const {
    return std::any_of(devices_.begin(), devices_.end(), [](const RecordPtr& r) { return !r->Hidden(); });
}

void Hub::SetTrayAfterLoss() const { SetTray(HasVisibleDevice() ? kTrayConnected : kTrayNoDevice); }

void Hub::RemoveSlot(const RecordPtr& record) {
    auto it = std::find(devices_.begin(), devices_.end(), record);
    if (it != devices_.end())
        devices_.erase(it);
    NoteDevicesChanged();
}

void Hub::PostToViews(UINT message, bool cabinetWindowsToo) {
    if (!message)
        return;
    const char* frames[] = {"ExploreWClass", "CabinetWClass"};
    for (int i = 0; i < (cabinetWindowsToo ? 2 : 1); ++i) {
        for (HWND frame = FindWindowExA(nullptr, nullptr, frames[i], nullptr); frame;
             frame = FindWindowExA(nullptr, frame, frames[i], nullptr)) {
            HWND view = FindWindowExA(frame, nullptr, kNamespaceViewClass, nullptr);
            if (view)
                PostMessageA(view, message, static_cast<WPARAM>(-1), 0);
        }
    }
}

STDMETHODIMP Hub::OnDeviceFound(GUID aFactory, IZvDevice* device) {
    if (!device)
        return E_POINTER;
    auto record = std::make_shared<DeviceRecord>();
    HRESULT hr = device->QueryInterface(__uuidof(IZvDevice), reinterpret_cast<void**>(&record->device));
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = ReadText(record->device.Get(), &IZvDevice::GetName, record->name)) ||
        FAILED(hr = ReadText(record->device.Get(), &IZvDevice::GetStrID, record->strID)))
        return hr;
    if (IsEqualGUID(aFactory, IID_IUnknown)) {
        ShowRefusal(record->strID);
        return E_FAIL;
    }
    if (FAILED(hr = record->device->GetAttributes(&record->attributes)) ||
        FAILED(hr = record->device->GetVersion(&record->modelVersion, &record->submodelVersion)) ||
        FAILED(hr = ReadText(record->device.Get(), &IZvDevice::GetDescription, record->description)))
        return hr;
    auto factory = std::find_if(factories_.begin(), factories_.end(),
                                [&](const auto& e) { return IsEqualGUID(e->clsid, aFactory); });
    if (factory == factories_.end())
        return E_FAIL;
    record->factoryIndex = static_cast<long>(factory - factories_.begin());

    // A device reported again replaces its earlier record.
    auto same = std::find_if(devices_.begin(), devices_.end(),
                             [&](const RecordPtr& r) { return r->strID == record->strID; });
    if (same != devices_.end())
        *same = record;
    else
        devices_.push_back(record);
    NoteDevicesChanged();
    SetTray(kTrayConnected);
    if (auto close = Services().closeDisconnectionAlert)
        close(record->strID);
    PostToViews(refreshMessage_, true);
    // The factory learns what the device event script answered.
    if (!scriptsProhibited_)
        if (auto run = Services().runDeviceEventScript)
            return run("OnDeviceFound", record->strID.c_str());
    return S_OK;
}

bool Hub::WaitForRecordThread(const RecordPtr& record, DWORD timeoutMs) {
    com::UniqueHandle thread = record->DuplicateThread();
    if (!thread)
        return true;
    return WaitWithMessagePump(thread.Get(), timeoutMs);
}

STDMETHODIMP Hub::OnDeviceLost(GUID, LPSTR strName) {
    RecordPtr record = FindDeviceRecord(strName);
    if (!record)
        return E_FAIL;
    if (record->Cancel())
        WaitForRecordThread(record, kLostWaitMs);
    // Messages were dispatched meanwhile: the record may have gone.
    if (std::find(devices_.begin(), devices_.end(), record) == devices_.end() ||
        (record->name != strName && record->strID != strName))
        return E_FAIL;
    DropDevice(record);
    PostToViews(refreshMessage_, false);
    RemoveSlot(record);
    if (!scriptsProhibited_ && !record->strID.empty())
        if (auto run = Services().runDeviceEventScript)
            run("OnDeviceLost", record->strID.c_str());
    SetTrayAfterLoss();
    return S_OK;
}

void Hub::DropDevice(const RecordPtr& record) {
    std::string strId = record->strID;
    std::string name = record->name;
    DWORD alert = 1;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (kDeviceListKey + strId).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        com::UniqueHKey owned(key);
        if (!ReadDword(key, "DisconnectionAlert", alert)) {
            alert = 1;
            WriteDword(key, "DisconnectionAlert", 1);
        }
    }
    // The Explorer folder asks the program it starts to leave the device alone: the request
    // silences this one alert and is then cleared, so later disconnections are reported again.
    DWORD ignore = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kCommonKey, 0, KEY_READ | KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        com::UniqueHKey owned(key);
        if (ReadDword(key, "IgnoreDeviceAutoProcess", ignore) && ignore != 0)
            WriteDword(key, "IgnoreDeviceAutoProcess", 0);
    }
    if ((alert & 1) && ignore == 0)
        if (auto show = Services().showDisconnectionAlert)
            show(strId, name);
}

HRESULT Hub::RemoveZelvan(const char* strId) {
    if (!strId)
        return E_INVALIDARG;
    HKEY raw = nullptr;
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (kDeviceListKey + std::string(strId)).c_str(), 0, KEY_READ | KEY_WRITE,
                      &raw) == ERROR_SUCCESS)
        key.Reset(raw);
    // The alert stays off while the device is removed; the later writes are made only when
    // this one was.
    DWORD oldAlert = 0;
    bool remembered = key && ReadDword(key.Get(), "Disconnect Alert", oldAlert);
    bool writable = remembered && WriteDword(key.Get(), "DisconnectionAlert", 0);
    auto restore = [&](DWORD value) {
        if (writable)
            WriteDword(key.Get(), "DisconnectionAlert", value);
    };
    RecordPtr record = FindDeviceRecord(strId);
    if (!record) {
        restore(oldAlert);
        return E_FAIL;
    }
    if (!WaitDeviceIdle(record)) {
        restore(1);
        return E_PENDING;
    }
    record->device->ResetDeviceState(-2);
    LONG model = 0, submodel = 0;
    record->device->GetVersion(&model, &submodel);
    if (model == 16) {
        restore(1);
        return S_OK;
    }
    // Messages were dispatched while waiting: look the record up again.
    record = FindDeviceRecord(strId);
    if (record) {
        if (record->Cancel())
            WaitForRecordThread(record, kRemoveWaitMs);
        PostToViews(refreshMessage_, false);
        RemoveSlot(record);
    }
    SetTrayAfterLoss();
    restore(1);
    return S_OK;
}

// ---- lookups ----

namespace {

HRESULT CopyText(const std::string& text, LONG nMaxLen, unsigned char* buffer) {
    if (!buffer || nMaxLen <= 0 || text.size() >= static_cast<size_t>(nMaxLen))
        return E_INVALIDARG;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return S_OK;
}

} // namespace

STDMETHODIMP Hub::GetDeviceIDByName(LPSTR strName, LONG nMaxLen, unsigned char* strID) {
    if (!strName)
        return E_INVALIDARG;
    for (const RecordPtr& record : devices_)
        if (record->name == strName)
            return CopyText(record->strID, nMaxLen, strID);
    return E_FAIL;
}

STDMETHODIMP Hub::GetDeviceNameByID(LPSTR strID, LONG nMaxLen, unsigned char* strName) {
    if (!strID)
        return E_INVALIDARG;
    for (const RecordPtr& record : devices_)
        if (record->strID == strID)
            return CopyText(record->name, nMaxLen, strName);
    return E_FAIL;
}

STDMETHODIMP Hub::GetDeviceDescription(LPSTR strNameOrID, LONG nMaxLen, unsigned char* strName) {
    RecordPtr record = FindDeviceRecord(strNameOrID);
    if (!record)
        return E_FAIL;
    return CopyText(record->description, nMaxLen, strName);
}

STDMETHODIMP Hub::GetDeviceVersion(LPSTR strNameOrID, LONG* nModelVersion, LONG* nSubmodelVersion) {
    if (!nModelVersion || !nSubmodelVersion)
        return E_POINTER;
    RecordPtr record = FindDeviceRecord(strNameOrID);
    if (!record)
        return E_FAIL;
    *nModelVersion = record->modelVersion;
    *nSubmodelVersion = record->submodelVersion;
    return S_OK;
}

STDMETHODIMP Hub::ProcessFileOpen(LPSTR szFile) {
    if (!szFile)
        return E_INVALIDARG;
    auto open = Services().openFile;
    return open && open(szFile) ? S_OK : E_FAIL;
}

STDMETHODIMP Hub::Refresh() {
    PostToViews(refreshMessage_, true);
    return S_OK;
}

// ---- the device-list face ----

STDMETHODIMP ZvWigFace::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, __uuidof(IZelvanMgrZvWig))) {
        *ppv = static_cast<IZelvanMgrZvWig*>(this);
        AddRef();
        return S_OK;
    }
    return hub_.QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) ZvWigFace::AddRef() { return hub_.AddRef(); }
STDMETHODIMP_(ULONG) ZvWigFace::Release() { return hub_.Release(); }

STDMETHODIMP ZvWigFace::GetZelvanCount(LONG* pnCount) {
    if (!pnCount)
        return E_INVALIDARG;
    *pnCount = static_cast<LONG>(hub_.SlotCount());
    return S_OK;
}

namespace {

HRESULT SlotText(Hub& hub, LONG index, BSTR* out, std::string DeviceRecord::*field) {
    if (!out || index < 0)
        return E_INVALIDARG;
    RecordPtr record = hub.Slot(static_cast<size_t>(index));
    if (!record)
        return E_INVALIDARG;
    return com::AnsiToBstr((*record).*field, out);
}

} // namespace

STDMETHODIMP ZvWigFace::GetZelvanID(LONG nIndex, BSTR* pbsID) { return SlotText(hub_, nIndex, pbsID, &DeviceRecord::strID); }

STDMETHODIMP ZvWigFace::GetZelvanName(LONG nIndex, BSTR* pbsName) {
    return SlotText(hub_, nIndex, pbsName, &DeviceRecord::name);
}

STDMETHODIMP ZvWigFace::ConnectZelvan(BSTR) { return E_NOTIMPL; }

} // namespace tv::hub
