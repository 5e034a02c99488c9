#include "PimSynchronizer.h"

#include "DllModule.h"
#include "Handles.h"
#include "PimDialogs.h"
#include "PimSyncIds.h"
#include "PrintfText.h"
#include "Devlink10Ids.h"
#include "ZvSyncCT10.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace tv::pimsync {

using ::pimsync::MergeResult;
using com::ComPtr;

namespace {

constexpr LONG kModel10 = 0x10;
constexpr DWORD kCopySilenceMs = 60000;
// However busy the thread's queue, a copy is given up after this long.
constexpr DWORD kCopyLimitMs = 600000;
// How long a copy given up is awaited once cancelled.
constexpr DWORD kCancelWaitMs = 30000;

// The sink of one hub copy: the item's error text, an event set when the item ended (or the
// operation ended without reporting it, which did not copy it), and one set when the operation
// ended.
class ZvDeviceFileListener final : public com::ComObject<ZvDeviceFileListener, IZvFileOperationCallback> {
  public:
    HRESULT FinalConstruct() {
        done_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        ended_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        return done_ && ended_ ? S_OK : com::LastErrorHResult();
    }
    HANDLE Done() const { return done_.Get(); }
    HANDLE Ended() const { return ended_.Get(); }
    bool Copied() const { return reported_ && error_.empty(); }

    STDMETHODIMP OnOperationComplete() override {
        SetEvent(done_.Get());
        SetEvent(ended_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR strErrorDescription, LONG) override {
        error_ = strErrorDescription ? strErrorDescription : "";
        reported_ = true;
        SetEvent(done_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }

  private:
    com::UniqueHandle done_;
    com::UniqueHandle ended_;
    std::string error_;
    bool reported_ = false;
};

// Waits for `handle` while dispatching this thread's messages; fails after `silenceMs` without
// either, or after `limitMs` in all. A quit message ends the wait as a failure when `quitEnds`,
// else it is held until the wait ends; either way it is posted again for the thread's own loop.
bool WaitWhileDispatching(HANDLE handle, DWORD silenceMs, DWORD limitMs, bool quitEnds = true) {
    const ULONGLONG start = GetTickCount64();
    bool quit = false;
    int quitCode = 0;
    bool signalled = false;
    for (;;) {
        // Messages already in the queue count too: the hub's callback may arrive while the call
        // that started the copy is still out, and that call's loop sees it without taking it.
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &handle, silenceMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            signalled = true;
            break;
        }
        if (woke != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        while (!(quit && quitEnds) && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (quit && quitEnds)
            break;
        if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) {
            signalled = true;
            break;
        }
        if (GetTickCount64() - start > limitMs)
            break;
    }
    if (quit)
        PostQuitMessage(quitCode);
    return signalled;
}

std::string Format(const std::string& format, const std::string& argument) {
    if (format.empty())
        return argument;
    return FormatPrintf(format, argument.c_str());
}

uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The application's items collection as the merge's record source; keeps the failure of the last
// call for the report. The item last read is kept with what it was read as until the next read:
// when its pair is settled the write goes into that item, not into a new fetch of its index, and
// leaves out the fields the item already holds.
class ItemRecordSource : public ::pimsync::PcRecordSource {
  public:
    ItemRecordSource(IUnknown* items, const SyncKind& kind) : items_(items), kind_(kind) {}
    HRESULT LastError() const { return hr_; }

    bool Count(long& count) override { return Ok(ItemCount(items_, count)); }
    ::pimsync::ItemRead Read(long index, ::pimsync::ZvSyncRecord& record) override {
        last_ = {};
        ComPtr<IUnknown> item;
        const HRESULT hr = OpenItem(index, item);
        if (hr == E_NOINTERFACE)
            return ::pimsync::ItemRead::kSkipped; // an item of another kind, such as a distribution list
        if (!Ok(hr) || !Ok(kind_.items->read(item.Get(), record)))
            return ::pimsync::ItemRead::kFailed;
        last_ = {index, std::move(item), record.Clone()};
        return ::pimsync::ItemRead::kRecord;
    }
    bool Add(::pimsync::ZvSyncRecord& record) override {
        ComPtr<IDispatch> added;
        ComPtr<IUnknown> item;
        return Ok(AddItem(items_, kind_.newItemType, added)) &&
               Ok(added->QueryInterface(kind_.items->iid, reinterpret_cast<void**>(&item))) &&
               Ok(kind_.items->write(item.Get(), record, nullptr));
    }
    bool Write(long index, ::pimsync::ZvSyncRecord& record) override {
        ReadItem target = std::exchange(last_, {});
        if (!target.item || target.index != index) {
            target = {};
            if (!Ok(OpenItem(index, target.item)))
                return false;
        }
        return Ok(kind_.items->write(target.item.Get(), record, target.record.get()));
    }

  private:
    struct ReadItem {
        long index = 0;
        ComPtr<IUnknown> item;
        std::unique_ptr<::pimsync::ZvSyncRecord> record; // as read, before the merge keeps its stored fields
    };

    HRESULT OpenItem(long index, ComPtr<IUnknown>& item) {
        ComPtr<IDispatch> dispatch;
        TV_RETURN_IF_FAILED(ItemAt(items_, index, dispatch));
        return dispatch->QueryInterface(kind_.items->iid, reinterpret_cast<void**>(&item));
    }
    bool Ok(HRESULT hr) {
        hr_ = hr;
        return SUCCEEDED(hr);
    }

    IUnknown* items_;
    const SyncKind& kind_;
    HRESULT hr_ = S_OK;
    ReadItem last_;
};

// Upper-cases by the rules of the user's ANSI code page.
void AnsiUpperCase(std::string& text) {
    if (!text.empty())
        CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
}

template <class List, class... Args> std::unique_ptr<::pimsync::ZvSyncRecordList> NewList(Args... args) {
    auto list = std::make_unique<List>(args...);
    list->SetUpperCase(AnsiUpperCase);
    return list;
}

} // namespace

const SyncKind kContactsKind = {
    &CLSID_ZvSyncContacts10,
    "phonebook.dat",
    IDS_PIMSYNC_CONTACTS_NAME,
    10,
    2,
    {{0x80E0342F, 0x0B9D, 0x4CBC, {0xB7, 0xD4, 0x84, 0xD6, 0x3B, 0xEA, 0xD2, 0x81}},
     {0xEADE9B8C, 0xB142, 0x4798, {0xB3, 0x81, 0xF8, 0x0E, 0xAD, 0x22, 0x4A, 0xF6}}},
    {IDS_PIMSYNC_TYPE_CONTACTS, IDS_PIMSYNC_TYPE_CONTACT_DETAILS},
    IDD_PIMSYNC_CONTACT_CONFLICT,
    &kContactItems,
    [] { return NewList<::pimsync::ZvPhonebookFile>(uint8_t{1}); },
};

const SyncKind kTasksKind = {
    &CLSID_ZvSyncTasks10,
    "organizer.dat",
    IDS_PIMSYNC_TASKS_NAME,
    13,
    3,
    {{0xD7FB0FE6, 0x6C6F, 0x4E5D, {0xAD, 0xE3, 0x12, 0x15, 0xAB, 0xE1, 0xE6, 0xF5}},
     {0x5FE30E6D, 0x9EB1, 0x441C, {0x85, 0x60, 0xCB, 0xE0, 0x48, 0x86, 0xD5, 0x04}}},
    {IDS_PIMSYNC_TYPE_TASKS, IDS_PIMSYNC_TYPE_TASK_NOTES},
    IDD_PIMSYNC_TASK_CONFLICT,
    &kTaskItems,
    [] { return NewList<::pimsync::ZvOrganizerFile>(); },
};

HRESULT PimSynchronizer::FinalConstruct() {
    // The program serves its hub in its own process; a runtime that does not hand that
    // registration to in-process requests is asked for the local server too.
    HRESULT hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  __uuidof(IZelvanMgr), reinterpret_cast<void**>(&hub_));
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                              reinterpret_cast<void**>(&hub_));
    if (FAILED(hr))
        return hr;
    Reset();
    resolution_ = ::pimsync::kAskUser;
    return S_OK;
}

void PimSynchronizer::Reset() {
    counters_ = {};
    if (!tempFile_.empty()) {
        if (keepTempFile_)
            keptFiles_.push_back({deviceFile_, tempFile_});
        else
            DeleteFileA(tempFile_.c_str());
    }
    keepTempFile_ = false;
    deviceFile_.clear();
    tempFile_.clear();
    conflictDialog_ = nullptr;
    items_.Reset();
    list_ = kind_.newList();
    cancelled_ = false;
}

HRESULT PimSynchronizer::Counter(long value, LONG* out) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

STDMETHODIMP PimSynchronizer::GetUserFriendlyName(LONG nMaxLen, unsigned char* szUserFriendlyName) {
    if (!szUserFriendlyName)
        return E_POINTER;
    const std::string name = LangText(kind_.friendlyName);
    if (name.empty())
        return E_FAIL;
    if (nMaxLen <= 0)
        return E_INVALIDARG;
    const size_t length = std::min(name.size(), static_cast<size_t>(nMaxLen - 1));
    std::memcpy(szUserFriendlyName, name.data(), length);
    szUserFriendlyName[length] = 0;
    return S_OK;
}

STDMETHODIMP PimSynchronizer::GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) {
    if (!pnElems || !pTypes)
        return E_POINTER;
    if (nMaxElems < 2)
        return E_FAIL;
    for (int i = 0; i < 2; ++i) {
        const std::string name = LangText(kind_.itemTypeNames[i]);
        LPSTR copy = name.empty() ? nullptr : static_cast<LPSTR>(CoTaskMemAlloc(name.size() + 1));
        if (!copy) {
            if (i == 1)
                CoTaskMemFree(std::exchange(pTypes[0].name, nullptr));
            return name.empty() ? E_FAIL : E_OUTOFMEMORY;
        }
        std::memcpy(copy, name.c_str(), name.size() + 1);
        pTypes[i].guid = kind_.itemTypes[i];
        pTypes[i].flags = 3;
        pTypes[i].name = copy;
    }
    *pnElems = 2;
    return S_OK;
}

STDMETHODIMP PimSynchronizer::IsCompatible(LPSTR szDeviceID) {
    std::wstring progId;
    if (FAILED(FindMailAppVersion(progId)))
        return S_FALSE;
    if (!szDeviceID)
        return E_INVALIDARG;
    LONG model = 0, submodel = 0;
    const HRESULT hr = hub_->GetDeviceVersion(szDeviceID, &model, &submodel);
    if (FAILED(hr))
        return hr;
    return model == kModel10 ? S_OK : S_FALSE;
}

STDMETHODIMP PimSynchronizer::SetDevice(LPSTR szDeviceID) {
    deviceId_ = szDeviceID ? szDeviceID : "";
    return S_OK;
}

STDMETHODIMP PimSynchronizer::SetConflictResolution(ZVSYNCRESOLUTION newVal) {
    resolution_ = newVal;
    return S_OK;
}

STDMETHODIMP PimSynchronizer::SetParentWindow(ULONG_PTR hWin) {
    parent_ = reinterpret_cast<HWND>(static_cast<LONG_PTR>(hWin));
    return S_OK;
}

STDMETHODIMP PimSynchronizer::Cancel() {
    cancelled_ = true;
    // The pair in hand stays as it is; the resolve step then stops without writing the list.
    EndConflictDialog(conflictDialog_, ::pimsync::kSkipPair);
    return S_OK;
}

STDMETHODIMP PimSynchronizer::Tune(LPSTR szDeviceID) {
    if (!szDeviceID)
        return E_INVALIDARG;
    const std::string saved = std::exchange(deviceId_, szDeviceID);
    const std::string stored = StoredDeviceFolder();
    deviceId_ = saved;
    RunOptionsDialog(parent_, hub_.Get(), szDeviceID, *kind_.clsid, stored);
    return S_OK;
}

STDMETHODIMP PimSynchronizer::Advise(IZvSyncCallback* piCallback, LONG* pnCookie) {
    return sinks_.Advise(piCallback, pnCookie);
}

STDMETHODIMP PimSynchronizer::Unadvise(LONG nCookie) {
    return sinks_.Unadvise(nCookie);
}

void PimSynchronizer::Update(ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done, ULONG total) {
    errorReported_ = false;
    completionReported_ = status == SST_COMPLETE;
    for (const auto& sink : sinks_.Snapshot())
        sink->OnUpdate(this, phase, status, done, total);
}

HRESULT PimSynchronizer::Error(ZVSYNCPHASE phase, const std::string& text, HRESULT result) {
    errorReported_ = true;
    for (const auto& sink : sinks_.Snapshot()) {
        std::string copy = text;
        sink->OnError(this, phase, copy.data());
    }
    return result;
}

HRESULT PimSynchronizer::FailFromCom(ZVSYNCPHASE phase, HRESULT hr) {
    return Error(phase, ComErrorText(hr));
}

void PimSynchronizer::Progress(long done, long total) {
    Update(phase_, SST_UPDATE, static_cast<ULONG>(done), static_cast<ULONG>(total));
}

int PimSynchronizer::ChooseVersion(const ::pimsync::ZvSyncRecord& device, const ::pimsync::ZvSyncRecord& pc) {
    // A cancel served during the last call on the application asks nothing more.
    if (cancelled_)
        return ::pimsync::kSkipPair;
    return RunConflictDialog(kind_, parent_, conflictDialog_, device, pc);
}

STDMETHODIMP PimSynchronizer::Synchronize(ZVSYNCPHASE phase) {
    if (phase < SPH_INITIALIZE || phase > SPH_FINALIZE)
        return E_INVALIDARG; // no phase of a session: nothing is reported, merged or written
    phase_ = phase;
    HRESULT hr = S_OK;
    switch (phase) {
    case SPH_INITIALIZE:
        hr = Initialize();
        break;
    case SPH_FINALIZE:
        hr = Finalize();
        break;
    default:
        hr = RunMergePhase(phase);
        break;
    }
    if (FAILED(hr) && !errorReported_)
        Error(phase, "");
    else if (SUCCEEDED(hr) && !completionReported_)
        Update(phase, SST_COMPLETE, 100, 100);
    return hr;
}

std::string PimSynchronizer::StoredDeviceFolder() const {
    // A device without settings, or without a choice, uses its default medium.
    const std::string fallback = LangText(IDS_DEVICE10_DEFAULT_MEDIUM);
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DeviceKeyPath(deviceId_).c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return fallback;
    char value[1024] = {};
    DWORD size = sizeof(value) - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), ClsidText(*kind_.clsid).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return fallback;
    const std::string text(value);
    const size_t end = text.find(';');
    return end == std::string::npos ? fallback : text.substr(0, end);
}

HRESULT PimSynchronizer::CopyThroughHub(const std::string& from, const std::string& to, bool& copied,
                                        bool& ended) {
    copied = false;
    ended = true;
    ComPtr<ZvDeviceFileListener> listener;
    TV_RETURN_IF_FAILED(com::MakeComObject(listener));
    std::string source = from, destination = to;
    LPSTR sources[] = {source.data()};
    LPSTR destinations[] = {destination.data()};
    TV_RETURN_IF_FAILED(hub_->CopyFileItems(1, MAX_PATH, sources, destinations, listener.Get()));
    if (WaitWhileDispatching(listener->Done(), kCopySilenceMs, kCopyLimitMs)) {
        copied = listener->Copied();
        return S_OK;
    }
    // A copy given up is stopped, and its end awaited, before the session goes on: it must not
    // write the device file after the failure was reported, nor read a file a reset removes. A
    // quit that comes meanwhile waits for the end too.
    std::string device = deviceId_;
    const HRESULT cancelled = hub_->CancelFileOperation(device.data());
    ended =
        SUCCEEDED(cancelled) && WaitWhileDispatching(listener->Ended(), kCancelWaitMs, kCancelWaitMs, false);
    return S_OK;
}

HRESULT PimSynchronizer::Initialize() {
    Update(SPH_INITIALIZE, SST_START, 0, 0);
    Reset();
    Update(SPH_INITIALIZE, SST_UPDATE, 1, 4);

    deviceFolder_ = deviceId_ + "\\" + StoredDeviceFolder();
    deviceFile_ = deviceFolder_ + "\\" + kind_.fileName;
    char folder[MAX_PATH + 1] = {}, path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, kind_.fileName, 0, path) == 0)
        return Error(SPH_INITIALIZE, "", com::LastErrorHResult());
    tempFile_ = path;

    bool copied = false, ended = true;
    const HRESULT hr = CopyThroughHub(deviceFile_, tempFile_, copied, ended);
    if (FAILED(hr))
        return Error(SPH_INITIALIZE, "", hr);
    // A copy that could not be awaited may still write the file: it is left in place.
    keepTempFile_ = !ended;
    if (!copied)
        return Error(SPH_INITIALIZE, Format(LangText(IDS_PIMSYNC_COPY_IN_FAILED), deviceFile_));
    Update(SPH_INITIALIZE, SST_UPDATE, 2, 4);
    if (cancelled_) {
        Update(SPH_INITIALIZE, SST_COMPLETE, 0, 0);
        return S_OK;
    }

    ComPtr<IUnknown> application;
    HRESULT attached = AttachMailApp(application);
    if (FAILED(attached))
        return FailFromCom(SPH_INITIALIZE, attached);
    attached = OpenDefaultFolderItems(application.Get(), kind_.folderNumber, items_);
    if (FAILED(attached))
        return FailFromCom(SPH_INITIALIZE, attached);

    Update(SPH_INITIALIZE, SST_UPDATE, 3, 4);
    if (!list_->ReadFile(tempFile_))
        return Error(SPH_INITIALIZE, LangText(IDS_PIMSYNC_FILE_UNREADABLE));
    Update(SPH_INITIALIZE, SST_COMPLETE, 0, 0);
    return S_OK;
}

HRESULT PimSynchronizer::RunMergePhase(ZVSYNCPHASE phase) {
    Update(phase, SST_START, 0, 0);
    if (!items_ || !list_->Loaded())
        return Error(phase, LangText(IDS_PIMSYNC_NOT_INITIALIZED));
    ItemRecordSource source(items_.Get(), kind_);
    MergeResult result = MergeResult::kDone;
    switch (phase) {
    case SPH_SYNCHRONIZE_ESTIMATE:
        result = ::pimsync::Estimate(*list_, source, counters_);
        break;
    case SPH_SYNCHRONIZE_TRANSFER:
        result = ::pimsync::Transfer(*list_, source, counters_, *this);
        break;
    default:
        result = ::pimsync::Resolve(*list_, source, resolution_, counters_, *this);
        break;
    }
    if (result == MergeResult::kSourceFailed)
        return FailFromCom(phase, source.LastError());
    if (result == MergeResult::kDone && phase != SPH_SYNCHRONIZE_ESTIMATE && !list_->WriteFile(tempFile_))
        return Error(phase, "");
    Update(phase, SST_COMPLETE, 0, 0);
    return S_OK;
}

HRESULT PimSynchronizer::Finalize() {
    Update(SPH_FINALIZE, SST_START, 0, 0);
    Update(SPH_FINALIZE, SST_UPDATE, 1, 3);
    // Only a file this session read goes back: after a failed or cancelled Initialize the
    // temporary file is empty or stale, and copying it would wipe the device's records.
    if (!list_->Loaded()) {
        Update(SPH_FINALIZE, SST_COMPLETE, 0, 0);
        return S_OK;
    }
    VOLUMEINFO volume = {};
    std::string folder = deviceFolder_;
    HRESULT hr = hub_->GetVolumeInfo(folder.data(), &volume);
    if (FAILED(hr))
        return Error(SPH_FINALIZE, "", hr);
    if (!::pimsync::FitsOnVolume(FileSize(tempFile_), volume.nBlockSize, volume.nFreeBlocks))
        return Error(SPH_FINALIZE, Format(LangText(IDS_PIMSYNC_NO_ROOM), deviceFolder_));
    bool copied = false, ended = true;
    hr = CopyThroughHub(tempFile_, deviceFile_, copied, ended);
    if (FAILED(hr))
        return Error(SPH_FINALIZE, "", hr);
    if (!copied) {
        // The copy may have cut the device file short: the temporary file, named in the report,
        // is the only whole copy of the merged list and stays until a session of the device
        // succeeds.
        keepTempFile_ = true;
        return Error(SPH_FINALIZE, Format(LangText(IDS_PIMSYNC_COPY_BACK_FAILED), tempFile_));
    }
    DeleteKeptFiles();
    Update(SPH_FINALIZE, SST_UPDATE, 2, 3);
    items_.Reset();
    list_ = kind_.newList();
    Update(SPH_FINALIZE, SST_COMPLETE, 0, 0);
    return S_OK;
}

void PimSynchronizer::DeleteKeptFiles() {
    std::erase_if(keptFiles_, [this](const KeptFile& kept) {
        return kept.deviceFile == deviceFile_ &&
               (DeleteFileA(kept.tempFile.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
    });
}

} // namespace tv::pimsync
