#include "SyncManager.h"
#include "AnsiText.h"
#include "HResult.h"
#include "MessagePump.h"
#include "SyncEnumerator.h"
#include "SyncSession.h"
#include "SyncText.h"
#include <algorithm>
#include <atomic>
#include <comcat.h>

namespace tv::sync {
namespace {

constexpr char kScheduleKey[] = "Software\\Zelvan\\Tavrilon\\ZvSyncMgr";
constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList";
constexpr char kConflictResolutionValue[] = "ConflictResolution";
constexpr char kSyncTimeValue[] = "SyncTime";

// The one manager of the process, for the session dialog's wait on the step thread.
std::atomic<SyncManager*> g_manager{nullptr};

std::string ClsidText(REFCLSID clsid) {
    wchar_t text[40] = {};
    if (!StringFromGUID2(clsid, text, ARRAYSIZE(text)))
        return {};
    return com::TerminatedToAnsi(text);
}

// A REG_SZ value read whole, however long; empty when it is missing or of another type.
std::string ReadWholeString(HKEY key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    std::string buffer(size + 1, '\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        size = static_cast<DWORD>(buffer.size() - 1);
        LONG status =
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_MORE_DATA) {
            buffer.assign(size + 1, '\0');
            continue;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ)
            return {};
        buffer.resize(size); // the data may or may not hold its terminating zero
        return std::string(buffer.c_str());
    }
    return {};
}

com::UniqueHKey OpenScheduleKey() {
    com::UniqueHKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kScheduleKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS)
        return {};
    return key;
}

// The desktop program's single-instance mutex, which exists while the program runs.
constexpr wchar_t kProgramInstanceMutex[] = L"{25A50E30-3183-4b63-B179-043BEACB5806}";

bool ProgramRuns() {
    com::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kProgramInstanceMutex));
    return static_cast<bool>(mutex);
}

} // namespace

HRESULT CreateHubInProgram(IZelvanMgr** hub) {
    constexpr DWORD kInProcess = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
    HRESULT hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, kInProcess, __uuidof(IZelvanMgr),
                                  reinterpret_cast<void**>(hub));
    if (FAILED(hr) && ProgramRuns())
        hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, kInProcess | CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                              reinterpret_cast<void**>(hub));
    return hr;
}

SyncManager::SyncManager() = default;

SyncManager::~SyncManager() {
    SyncManager* self = this;
    g_manager.compare_exchange_strong(self, nullptr);
}

void* SyncManager::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<IZvSyncMgrDisp*>(this);
    return nullptr;
}

HRESULT SyncManager::FinalConstruct() {
    com::ComPtr<IZelvanMgr> hub;
    TV_RETURN_IF_FAILED(CreateHubInProgram(&hub));
    TV_RETURN_IF_FAILED(hub_.Marshal(__uuidof(IZelvanMgr), hub.Get()));

    com::ComPtr<ICatInformation> categories;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICatInformation, reinterpret_cast<void**>(&categories)));
    com::ComPtr<IEnumCLSID> classes;
    CATID wanted = CATID_ZvSynchronizers;
    TV_RETURN_IF_FAILED(categories->EnumClassesOfCategories(1, &wanted, 0, nullptr, &classes));
    com::UniqueHKey store = OpenScheduleKey();
    if (!store)
        return E_FAIL;
    for (;;) {
        CLSID clsid;
        ULONG fetched = 0;
        HRESULT hr = classes->Next(1, &clsid, &fetched);
        if (FAILED(hr))
            return hr;
        if (hr != S_OK || fetched != 1)
            break;
        com::ComPtr<IZvSynchronizer> synchronizer;
        if (FAILED(CoCreateInstance(clsid, nullptr, kSynchronizerContext, __uuidof(IZvSynchronizer),
                                    reinterpret_cast<void**>(&synchronizer))))
            continue; // a class that cannot be made is left out
        Record record{clsid, std::make_unique<MarshalledInterface>(), {}};
        TV_RETURN_IF_FAILED(record.synchronizer->Marshal(__uuidof(IZvSynchronizer), synchronizer.Get()));
        const std::string name = ClsidText(clsid);
        if (name.empty())
            return E_FAIL;
        record.schedule = ParseSchedule(ReadWholeString(store.Get(), name.c_str()));
        table_.push_back(std::move(record));
    }
    g_manager = this;
    return S_OK;
}

// ---- lists of synchronizers ----

HRESULT
SyncManager::TableSynchronizers(std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>>& out) const {
    out.clear();
    // The table itself never changes after construction; only schedules do.
    for (const Record& record : table_) {
        com::ComPtr<IZvSynchronizer> synchronizer;
        TV_RETURN_IF_FAILED(record.synchronizer->Unmarshal(&synchronizer));
        out.emplace_back(synchronizer, record.clsid);
    }
    return S_OK;
}

HRESULT SyncManager::MakeEnumerator(std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>> items,
                                    IZvEnumSyncComponents** ppEnum) const {
    return com::CreateComObject<SyncEnumerator>(__uuidof(IZvEnumSyncComponents),
                                                reinterpret_cast<void**>(ppEnum), std::move(items));
}

STDMETHODIMP SyncManager::EnumComponents(LONG nStrCnt, LONG, LPSTR* aDevices, LONG included_only,
                                         IZvEnumSyncComponents** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    if (!aDevices)
        return E_INVALIDARG;
    std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>> all, listed;
    TV_RETURN_IF_FAILED(TableSynchronizers(all));
    for (size_t i = 0; i < all.size(); ++i) {
        for (LONG d = 0; d < nStrCnt; ++d) {
            HRESULT hr = all[i].first->IsCompatible(aDevices[d]);
            if (FAILED(hr))
                return hr;
            if (hr != S_OK)
                continue;
            bool scheduled = true;
            if (included_only) {
                com::CriticalSectionLock guard(lock_);
                const std::vector<std::string>& schedule = table_[i].schedule;
                scheduled =
                    aDevices[d] && std::find(schedule.begin(), schedule.end(), aDevices[d]) != schedule.end();
            }
            if (scheduled)
                listed.push_back(all[i]);
            break; // the first compatible device decides
        }
    }
    return MakeEnumerator(std::move(listed), ppEnum);
}

STDMETHODIMP SyncManager::EnumComponents2(LONG nElems, const GUID* aItemTypes,
                                          IZvEnumSyncComponents** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    if (!aItemTypes)
        return E_INVALIDARG;
    constexpr long kMaxTypes = 64;
    std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>> all, listed;
    TV_RETURN_IF_FAILED(TableSynchronizers(all));
    for (auto& entry : all) {
        ZVSYNCITEMTYPE types[kMaxTypes] = {};
        long count = 0;
        HRESULT hr = entry.first->GetItemTypes(kMaxTypes, &count, types);
        const long seen = std::clamp(count, 0L, kMaxTypes);
        bool matches = false;
        for (long t = 0; t < kMaxTypes; ++t) {
            if (t < seen && SUCCEEDED(hr))
                for (LONG g = 0; g < nElems; ++g)
                    matches = matches || IsEqualGUID(types[t].guid, aItemTypes[g]);
            CoTaskMemFree(types[t].name);
        }
        if (FAILED(hr))
            return hr;
        if (matches)
            listed.push_back(entry);
    }
    return MakeEnumerator(std::move(listed), ppEnum);
}

STDMETHODIMP SyncManager::EnumComponents3(IZvEnumSyncComponents** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>> all;
    TV_RETURN_IF_FAILED(TableSynchronizers(all));
    return MakeEnumerator(std::move(all), ppEnum);
}

// ---- schedules ----

HRESULT SyncManager::FindRecord(const GUID* comp, LPSTR deviceId, size_t& index) const {
    if (!deviceId || !comp || table_.empty())
        return E_INVALIDARG;
    for (index = 0; index < table_.size(); ++index)
        if (IsEqualCLSID(table_[index].clsid, *comp))
            return S_OK;
    return E_INVALIDARG;
}

void SyncManager::ReloadSchedules() {
    com::UniqueHKey store = OpenScheduleKey();
    if (!store)
        return;
    for (Record& record : table_) {
        const std::string name = ClsidText(record.clsid);
        if (!name.empty())
            record.schedule = ParseSchedule(ReadWholeString(store.Get(), name.c_str()));
    }
}

HRESULT SyncManager::WriteSchedules() const {
    com::UniqueHKey store = OpenScheduleKey();
    if (!store)
        return E_FAIL;
    for (const Record& record : table_) {
        const std::string name = ClsidText(record.clsid);
        if (name.empty())
            return E_FAIL;
        const std::string data = JoinSchedule(record.schedule);
        TV_RETURN_IF_FAILED(com::Win32ToHResult(RegSetValueExA(store.Get(), name.c_str(), 0, REG_SZ,
                                                               reinterpret_cast<const BYTE*>(data.c_str()),
                                                               static_cast<DWORD>(data.size() + 1))));
    }
    return S_OK;
}

STDMETHODIMP SyncManager::IsComponentScheduled(const GUID* comp, LPSTR szDeviceID) {
    com::CriticalSectionLock guard(lock_);
    size_t index = 0;
    TV_RETURN_IF_FAILED(FindRecord(comp, szDeviceID, index));
    ReloadSchedules();
    const std::vector<std::string>& schedule = table_[index].schedule;
    return std::find(schedule.begin(), schedule.end(), szDeviceID) != schedule.end() ? S_OK : S_FALSE;
}

HRESULT SyncManager::ChangeSchedule(const GUID* comp, LPSTR deviceId, bool schedule) {
    com::CriticalSectionLock guard(lock_);
    size_t index = 0;
    TV_RETURN_IF_FAILED(FindRecord(comp, deviceId, index));
    ReloadSchedules();
    std::vector<std::string>& ids = table_[index].schedule;
    auto found = std::find(ids.begin(), ids.end(), deviceId);
    if ((found != ids.end()) == schedule)
        return S_FALSE;
    if (schedule)
        ids.emplace_back(deviceId);
    else
        ids.erase(found);
    TV_RETURN_IF_FAILED(WriteSchedules());
    return S_OK;
}

STDMETHODIMP SyncManager::ScheduleComponent(const GUID* comp, LPSTR szDeviceID) {
    return ChangeSchedule(comp, szDeviceID, true);
}

STDMETHODIMP SyncManager::UnscheduleComponent(const GUID* comp, LPSTR szDeviceID) {
    return ChangeSchedule(comp, szDeviceID, false);
}

// ---- per-device settings ----

HRESULT SyncManager::ReadDeviceValue(LPSTR deviceId, const char* value, DWORD fallback, DWORD& out) const {
    if (!IsDeviceKeyName(deviceId))
        return E_INVALIDARG;
    const std::string path = std::string(kDeviceListKey) + "\\" + deviceId;
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return E_FAIL;
    DWORD data = 0;
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        data = fallback;
    out = data;
    return S_OK;
}

HRESULT SyncManager::WriteDeviceValue(LPSTR deviceId, const char* value, DWORD data) const {
    if (!IsDeviceKeyName(deviceId))
        return E_INVALIDARG;
    const std::string path = std::string(kDeviceListKey) + "\\" + deviceId;
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
        return E_FAIL;
    if (RegSetValueExA(key.Get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) !=
        ERROR_SUCCESS)
        return E_FAIL;
    return S_OK;
}

STDMETHODIMP SyncManager::get_ConflictResolution(LPSTR szDeviceID, ZVSYNCRESOLUTION* pVal) {
    if (!szDeviceID)
        return E_INVALIDARG;
    if (!pVal)
        return E_POINTER;
    DWORD value = 0;
    TV_RETURN_IF_FAILED(ReadDeviceValue(szDeviceID, kConflictResolutionValue, SSR_MANUAL_RESOLUTION, value));
    *pVal = static_cast<ZVSYNCRESOLUTION>(value);
    return S_OK;
}

STDMETHODIMP SyncManager::put_ConflictResolution(LPSTR szDeviceID, ZVSYNCRESOLUTION newVal) {
    if (!szDeviceID || newVal < SSR_MANUAL_RESOLUTION || newVal > SSR_REPLACE_ON_COMPUTER)
        return E_INVALIDARG;
    TV_RETURN_IF_FAILED(WriteDeviceValue(szDeviceID, kConflictResolutionValue, static_cast<DWORD>(newVal)));
    std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>> all;
    TV_RETURN_IF_FAILED(TableSynchronizers(all));
    for (auto& entry : all)
        entry.first->SetConflictResolution(newVal); // each synchronizer's answer is its own affair
    return S_OK;
}

STDMETHODIMP SyncManager::get_SyncTime(LPSTR szDeviceID, LONG* pVal) {
    if (!szDeviceID)
        return E_INVALIDARG;
    if (!pVal)
        return E_POINTER;
    DWORD value = 0;
    TV_RETURN_IF_FAILED(ReadDeviceValue(szDeviceID, kSyncTimeValue, 0, value));
    *pVal = static_cast<LONG>(value);
    return S_OK;
}

STDMETHODIMP SyncManager::put_SyncTime(LPSTR szDeviceID, LONG newVal) {
    if (!szDeviceID)
        return E_INVALIDARG;
    return WriteDeviceValue(szDeviceID, kSyncTimeValue, static_cast<DWORD>(newVal));
}

STDMETHODIMP SyncManager::get_SyncTime(BSTR bsDeviceID, VARIANT_BOOL* pVal) {
    if (!pVal)
        return E_POINTER;
    std::string id = com::ToAnsi(bsDeviceID);
    LONG value = 0;
    TV_RETURN_IF_FAILED(get_SyncTime(id.data(), &value));
    *pVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP SyncManager::put_SyncTime(BSTR bsDeviceID, VARIANT_BOOL newVal) {
    std::string id = com::ToAnsi(bsDeviceID);
    return put_SyncTime(id.data(), newVal == VARIANT_TRUE ? 1 : 0);
}

// ---- sessions and steps ----

STDMETHODIMP SyncManager::Synchronize(LPSTR szDeviceID) {
    if (!szDeviceID)
        return E_INVALIDARG;
    com::UniqueBstr id = com::AnsiToUniqueBstr(szDeviceID);
    if (!id)
        return E_OUTOFMEMORY;
    return StartSync(id.Get(), VARIANT_FALSE);
}

STDMETHODIMP SyncManager::StartSync(BSTR bsDeviceID, VARIANT_BOOL bAutoStart) {
    if (!bsDeviceID)
        return E_INVALIDARG;
    {
        com::CriticalSectionLock guard(lock_);
        if (startingSession_ ||
            (sessionThread_ && WaitForSingleObject(sessionThread_.Get(), 0) == WAIT_TIMEOUT))
            return E_FAIL; // one session at a time
        sessionThread_.Reset();
        startingSession_ = true;
    }
    // The hub is asked without the lock held: its calls let other calls into this thread.
    HANDLE thread = nullptr;
    const HRESULT hr = StartSessionThread(bsDeviceID, bAutoStart == VARIANT_TRUE, thread);
    com::CriticalSectionLock guard(lock_);
    startingSession_ = false;
    sessionThread_.Reset(thread);
    return hr;
}

HRESULT SyncManager::StartSessionThread(BSTR deviceId, bool autoStart, HANDLE& thread) {
    thread = nullptr;
    auto start = std::make_unique<SessionStart>();
    start->deviceId = com::ToAnsi(deviceId);
    start->autoStart = autoStart;
    com::ComPtr<IZelvanMgr> hub;
    TV_RETURN_IF_FAILED(hub_.Unmarshal(&hub));
    unsigned char name[260] = {};
    TV_RETURN_IF_FAILED(hub->GetDeviceNameByID(start->deviceId.data(), sizeof(name), name));
    name[sizeof(name) - 1] = 0;
    start->deviceName = reinterpret_cast<const char*>(name);
    TV_RETURN_IF_FAILED(CoMarshalInterThreadInterfaceInStream(__uuidof(IZelvanMgr), hub.Get(), &start->hub));
    TV_RETURN_IF_FAILED(CoMarshalInterThreadInterfaceInStream(
        __uuidof(IZvSyncMgr), static_cast<IZvSyncMgr*>(this), &start->manager));
    thread = CreateThread(nullptr, 0, SyncThreadProc, start.get(), 0, nullptr);
    if (!thread)
        return E_FAIL; // the streams' data go with `start`
    start.release();
    return S_OK;
}

com::UniqueHandle SyncManager::DuplicateSessionThread() const {
    com::CriticalSectionLock guard(lock_);
    HANDLE copy = nullptr;
    if (sessionThread_)
        DuplicateHandle(GetCurrentProcess(), sessionThread_.Get(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                        FALSE, 0);
    return com::UniqueHandle(copy);
}

STDMETHODIMP SyncManager::DoSync(BSTR bsDeviceID, VARIANT_BOOL bAutoStart) {
    TV_RETURN_IF_FAILED(StartSync(bsDeviceID, bAutoStart));
    com::UniqueHandle thread = DuplicateSessionThread();
    if (!thread)
        return E_FAIL;
    return WaitWithMessagePump(thread.Get(), INFINITE) ? S_OK : E_FAIL;
}

STDMETHODIMP SyncManager::SyncStep(IZvSynchronizer* pSync, ZVSYNCPHASE phase) {
    if (!pSync)
        return E_INVALIDARG;
    com::CriticalSectionLock guard(lock_);
    // Tested before anything is marshalled, so that a refused step leaves nothing behind.
    if (stepThread_ && WaitForSingleObject(stepThread_.Get(), 0) == WAIT_TIMEOUT)
        return E_FAIL;
    auto start = std::make_unique<StepStart>();
    start->phase = phase;
    TV_RETURN_IF_FAILED(
        CoMarshalInterThreadInterfaceInStream(__uuidof(IZvSynchronizer), pSync, &start->synchronizer));
    HANDLE thread = CreateThread(nullptr, 0, SyncStepThreadProc, start.get(), 0, nullptr);
    if (!thread)
        return E_FAIL; // the marshalled data are released with `start`
    start.release();
    stepThread_.Reset(thread);
    return S_OK;
}

bool SyncManager::WaitForStepThread(DWORD timeoutMs) {
    SyncManager* manager = g_manager.load();
    if (!manager)
        return false;
    HANDLE copy = nullptr;
    {
        com::CriticalSectionLock guard(manager->lock_);
        if (!manager->stepThread_ || !DuplicateHandle(GetCurrentProcess(), manager->stepThread_.Get(),
                                                      GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
            return false;
    }
    com::UniqueHandle thread(copy);
    return WaitWithMessagePump(thread.Get(), timeoutMs);
}

// ---- property pages ----

STDMETHODIMP SyncManager::GetPages(CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    const CLSID pages[] = {CLSID_ZvSyncOptions, CLSID_ZvSyncRules, CLSID_DeviceOptns};
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(pages)));
    if (!pPages->pElems) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    std::copy(std::begin(pages), std::end(pages), pPages->pElems);
    pPages->cElems = ARRAYSIZE(pages);
    return S_OK;
}

} // namespace tv::sync
