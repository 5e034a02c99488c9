#include "FileSynchronizer.h"

#include "BackgroundWork.h"
#include "DllModule.h"
#include "FileOpListener.h"
#include "FileSyncDialogs.h"
#include "FileSyncIds.h"
#include "LanguageLibrary.h"
#include "MessagePump.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace tv::filesync {

using ::filesync::SyncItem;
using tv::com::ComPtr;

namespace {

constexpr DWORD kCopyTimeoutMs = 1000000;
constexpr LONG kModel10 = 0x10;
constexpr LONG kModel15 = 0x15;
constexpr uint32_t kSyncedOrConflict = ::filesync::kConflict | ::filesync::kSynchronized;

// The manager's counts are 32-bit: larger byte counts are scaled down together.
void Scale(uint64_t& done, uint64_t& total) {
    while (total > 0xFFFFFFFFull || done > 0xFFFFFFFFull) {
        done >>= 1;
        total >>= 1;
    }
}

} // namespace

std::string LangText(UINT id) {
    return tv::LoadLanguageString(tv::dll::LanguageLibrary(), id);
}

HRESULT FileSynchronizer::FinalConstruct() {
    if (generation_ == ::filesync::Generation::V10)
        engine_ = std::make_unique<FileSyncEngine10>(LangText);
    else
        engine_ = std::make_unique<FileSyncEngine15>(LangText);
    // The program serves its hub in its own process; where it is registered for the local
    // server only, the in-process request falls back to any context.
    HRESULT hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  __uuidof(IZelvanMgr), reinterpret_cast<void**>(hub_.ReleaseAndGetAddressOf()));
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgr),
                              reinterpret_cast<void**>(hub_.ReleaseAndGetAddressOf()));
    return hr;
}

STDMETHODIMP FileSynchronizer::QueryInterface(REFIID riid, void** ppv) {
    if (generation_ == ::filesync::Generation::V10 && IsEqualIID(riid, __uuidof(IZvSynchronizerGUI))) {
        if (ppv)
            *ppv = nullptr;
        return ppv ? E_NOINTERFACE : E_POINTER;
    }
    return ComObject::QueryInterface(riid, ppv);
}

STDMETHODIMP FileSynchronizer::GetUserFriendlyName(LONG nMaxLen, unsigned char* szUserFriendlyName) {
    if (!szUserFriendlyName)
        return E_POINTER;
    if (nMaxLen <= 0)
        return E_INVALIDARG;
    const std::string name =
        LangText(generation_ == ::filesync::Generation::V10 ? IDS_FILESYNC_NAME10 : IDS_FILESYNC_NAME15);
    const size_t length = std::min(name.size(), static_cast<size_t>(nMaxLen - 1));
    std::memcpy(szUserFriendlyName, name.data(), length);
    szUserFriendlyName[length] = 0;
    return S_OK;
}

STDMETHODIMP FileSynchronizer::GetItemTypes(LONG, LONG*, ZVSYNCITEMTYPE*) {
    return S_OK;
}

STDMETHODIMP FileSynchronizer::IsCompatible(LPSTR szDeviceID) {
    if (!hub_)
        return E_FAIL;
    LONG model = 0, submodel = 0;
    const HRESULT hr = hub_->GetDeviceVersion(szDeviceID, &model, &submodel);
    if (FAILED(hr))
        return hr;
    return model == (generation_ == ::filesync::Generation::V10 ? kModel10 : kModel15) ? S_OK : S_FALSE;
}

STDMETHODIMP FileSynchronizer::SetDevice(LPSTR szDeviceID) {
    deviceId_ = szDeviceID ? szDeviceID : "";
    return S_OK;
}

STDMETHODIMP FileSynchronizer::SetConflictResolution(ZVSYNCRESOLUTION newVal) {
    resolution_ = newVal;
    return S_OK;
}

STDMETHODIMP FileSynchronizer::SetParentWindow(ULONG_PTR hWin) {
    parent_ = reinterpret_cast<HWND>(hWin);
    return S_OK;
}

STDMETHODIMP FileSynchronizer::Cancel() {
    cancelled_ = true;
    if (hub_) {
        std::string id = deviceId_;
        hub_->CancelFileOperation(id.data());
    }
    if (conflictWindow_)
        PostMessageA(conflictWindow_, WM_COMMAND, IDC_FILESYNC_SKIP, 0);
    return S_OK;
}

STDMETHODIMP FileSynchronizer::GetTotalItems(LONG* nItems) {
    if (!nItems)
        return E_POINTER;
    *nItems = totalItems_;
    return S_OK;
}

STDMETHODIMP FileSynchronizer::GetSynchronizedItems(LONG* nItems) {
    if (!nItems)
        return E_POINTER;
    *nItems = static_cast<LONG>(engine_->Core().CountItemsByFlag(::filesync::kSynchronized));
    return S_OK;
}

STDMETHODIMP FileSynchronizer::GetUnresolvedItems(LONG* nItems) {
    if (!nItems)
        return E_POINTER;
    *nItems = static_cast<LONG>(engine_->Core().CountItemsByFlag(::filesync::kConflict));
    return S_OK;
}

STDMETHODIMP FileSynchronizer::Tune(LPSTR szDeviceID) {
    RunSettingsDialogs(parent_, generation_, szDeviceID ? szDeviceID : "");
    return S_OK;
}

STDMETHODIMP FileSynchronizer::Advise(IZvSyncCallback* piCallback, LONG* pnCookie) {
    return sinks_.Advise(piCallback, pnCookie);
}

STDMETHODIMP FileSynchronizer::Unadvise(LONG nCookie) { return sinks_.Unadvise(nCookie); }

STDMETHODIMP FileSynchronizer::GetIcon(int* nResourceID) {
    if (!nResourceID)
        return E_POINTER;
    *nResourceID = IDI_FILESYNC15;
    return S_OK;
}

void FileSynchronizer::FireUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, uint64_t done, uint64_t total) {
    errorReported_ = false;
    completeReported_ = status == SST_COMPLETE;
    Scale(done, total);
    // A copy: a sink may unadvise while it is told.
    for (const auto& sink : sinks_.Snapshot())
        sink->OnUpdate(this, phase, status, static_cast<ULONG>(done), static_cast<ULONG>(total));
}

void FileSynchronizer::FireCustomUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, const std::string& text) {
    errorReported_ = false;
    completeReported_ = status == SST_COMPLETE;
    std::string shown = text;
    for (const auto& sink : sinks_.Snapshot())
        sink->OnCustomUpdate(this, phase, status, shown.data(), 0, 0);
}

std::string FileSynchronizer::LeftOutText() const {
    const LONG unresolved = static_cast<LONG>(engine_->Core().CountItemsByFlag(::filesync::kConflict));
    const unsigned long leftOut = static_cast<unsigned long>(leftOut_);
    char text[1024] = {};
    if (unresolved < 1)
        std::snprintf(text, sizeof(text), LangText(IDS_FILESYNC_DONE_LEFT_OUT).c_str(), leftOut);
    else
        std::snprintf(text, sizeof(text), LangText(IDS_FILESYNC_DONE_UNRESOLVED_LEFT_OUT).c_str(),
                      static_cast<long>(unresolved), leftOut);
    return text;
}

HRESULT FileSynchronizer::FireError(ZVSYNCPHASE phase, const std::string& text, HRESULT result) {
    errorReported_ = true;
    std::string description = text;
    for (const auto& sink : sinks_.Snapshot())
        sink->OnError(this, phase, description.data());
    return result;
}

STDMETHODIMP FileSynchronizer::Synchronize(ZVSYNCPHASE phase) {
    HRESULT hr = E_FAIL;
    switch (phase) {
    case SPH_INITIALIZE:
        hr = DoInitialize();
        break;
    case SPH_SYNCHRONIZE_ESTIMATE:
        hr = DoEstimate();
        break;
    case SPH_SYNCHRONIZE_TRANSFER:
        hr = DoTransfer();
        break;
    case SPH_SYNCHRONIZE_RESOLVE:
        hr = DoResolve();
        break;
    case SPH_FINALIZE:
        hr = DoFinalize();
        break;
    default:
        return E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        if (!completeReported_)
            FireUpdate(phase, SST_COMPLETE, 100, 100);
    } else if (!errorReported_) {
        FireError(phase, "");
    }
    return hr;
}

HRESULT FileSynchronizer::DoInitialize() {
    totalItems_ = 0;
    leftOut_ = 0;
    cancelled_ = false;
    engine_->Clear();
    if (!hub_)
        return FireError(SPH_INITIALIZE, "Internal error: System manager is invalid");
    FireUpdate(SPH_INITIALIZE, SST_START, 0, 0);
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 1, 16);
    std::string folder = deviceId_ + "\\" + LangText(IDS_FILESYNC_FOLDER15_SECOND);
    hub_->CreateFolder(folder.data());

    // The stored state and the PC folder's scan need nothing of the device or of this
    // apartment: they are read on threads of their own while this one takes the device's listing
    // from the hub, the scan from the moment the state has named its root, beside the reading of
    // the stored items. Their results are judged after the listing's, in the order the session
    // reports them. A state that names no root fails before any scan is asked for.
    HRESULT stateLoaded = E_FAIL, pcScanned = E_FAIL;
    BackgroundWork pcSide([&] {
        std::optional<BackgroundWork> scan;
        stateLoaded = engine_->LoadSyncDatabase(
            deviceId_, [&] { scan.emplace([&] { pcScanned = engine_->ScanPcFolder(""); }); });
    });
    std::string id = deviceId_;
    ComPtr<IZvEnumFileItems> items;
    if (FAILED(hub_->GetAllItems(id.data(), &items)) || !items)
        return FireError(SPH_INITIALIZE, LangText(IDS_FILESYNC_NO_LISTING));
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 8, 16);
    std::vector<::filesync::DeviceListingEntry> listing;
    ReadDeviceListing(items.Get(), listing);
    std::vector<std::string> folders;
    std::vector<::filesync::FileEntry> files, excluded;
    ::filesync::SortDeviceListing(listing, folders, files, excluded);
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 9, 16);

    pcSide.Wait();
    if (FAILED(stateLoaded))
        return FireError(SPH_INITIALIZE, LangText(IDS_FILESYNC_NO_STATE));
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 10, 16);
    if (FAILED(pcScanned))
        return FireError(SPH_INITIALIZE, LangText(IDS_FILESYNC_NO_PC_LISTING));
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 12, 16);
    if (FAILED(engine_->SetDeviceFolders(folders)))
        return FireError(SPH_INITIALIZE, LangText(IDS_FILESYNC_NO_STATE));
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 13, 16);
    if (FAILED(engine_->FilterDeviceItems(files, excluded, leftOut_)))
        return FireError(SPH_INITIALIZE, LangText(IDS_FILESYNC_NO_STATE));
    FireUpdate(SPH_INITIALIZE, SST_UPDATE, 14, 16);
    if (FAILED(engine_->MergeSyncLists()))
        return FireError(SPH_INITIALIZE, LangText(IDS_FILESYNC_NO_MERGE));
    FireUpdate(SPH_INITIALIZE, SST_COMPLETE, 0, 0);
    return S_OK;
}

HRESULT FileSynchronizer::DoEstimate() {
    FireUpdate(SPH_SYNCHRONIZE_ESTIMATE, SST_START, 0, 0);
    totalItems_ = static_cast<LONG>(engine_->Core().CountItemsByFlag(::filesync::kOnPc | ::filesync::kOnDevice));
    FireUpdate(SPH_SYNCHRONIZE_ESTIMATE, SST_COMPLETE, 0, 0);
    return S_OK;
}

bool FileSynchronizer::Stopped() {
    // A device call keeps this thread from serving calls while it runs: a stop sent meanwhile
    // waits in the queue and is served here first.
    if (!cancelled_ && pumpEvent_)
        tv::WaitWithMessagePump(pumpEvent_.Get(), 0);
    return cancelled_;
}

void FileSynchronizer::ShowItemMessage(UINT id, const std::string& name) {
    const std::string text = FormatText(LangText(id), name);
    const std::string caption = LangText(IDS_FILESYNC_CAPTION);
    MessageBoxA(GetDesktopWindow(), text.c_str(), caption.c_str(), MB_ICONEXCLAMATION);
}

HRESULT FileSynchronizer::CopyItem(ZVSYNCPHASE phase, SyncItem item, uint64_t total, uint64_t done) {
    ComPtr<FileOpListener> listener;
    HRESULT hr = tv::com::MakeComObject(listener);
    if (FAILED(hr))
        return FireError(phase, "", hr);
    // The hub may hold the listener after this call, when the wait ended early, and report to it
    // later: by then its progress leads nowhere, and this synchronizer may be gone.
    struct DetachProgress {
        FileOpListener& listener;
        ~DetachProgress() { listener.SetProgress(nullptr); }
    } detach{*listener.Get()};
    if (phase == SPH_SYNCHRONIZE_TRANSFER) {
        listener->SetProgress([this, total, done](uint64_t progress) {
            FireUpdate(SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, std::min(total, done + progress), total);
        });
    }
    ComPtr<IZvFileOperationCallback> callback;
    hr = listener->QueryInterface(__uuidof(IZvFileOperationCallback), reinterpret_cast<void**>(callback.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        return FireError(phase,
                         phase == SPH_SYNCHRONIZE_TRANSFER ? "Internal error: Can't query COM Interface."
                                                           : LangText(IDS_FILESYNC_NO_LISTENER),
                         hr);
    }
    hr = engine_->TransferItem(hub_.Get(), deviceId_, callback.Get(), item, [this] { return Stopped(); });
    if (hr == kStopped)
        return FireError(phase, LangText(IDS_FILESYNC_CANCELLED));
    if (hr == E_PENDING) {
        ShowItemMessage(IDS_FILESYNC_NO_DEVICE_FOLDER, item.pcName);
        return S_FALSE;
    }
    if (hr == kFileTooLarge) {
        ShowItemMessage(IDS_FILESYNC_TOO_LARGE, item.pcName);
        return S_FALSE;
    }
    if (hr == kNoRoom)
        return FireError(phase, LangText(IDS_FILESYNC_NO_ROOM));
    if (FAILED(hr))
        return FireError(phase, FormatText(LangText(IDS_FILESYNC_COPY_FAILED), item.pcName, item.deviceName));
    if (!listener->WaitForComplete(kCopyTimeoutMs))
        return FireError(phase, LangText(IDS_FILESYNC_COPY_INCOMPLETE));
    item.flags = (item.flags | ::filesync::kSynchronized) & ~::filesync::kConflict;
    if (FAILED(engine_->WaitForDeviceReady(hub_.Get(), deviceId_)) ||
        FAILED(engine_->UpdateSyncItem(hub_.Get(), deviceId_, item))) {
        if (phase == SPH_SYNCHRONIZE_TRANSFER)
            return FireError(phase, FormatText(LangText(IDS_FILESYNC_NOT_RECORDED),
                                           item.deviceName.empty() ? item.pcName : item.deviceName));
        return FireError(phase, LangText(IDS_FILESYNC_NO_MERGE));
    }
    return S_OK;
}

HRESULT FileSynchronizer::DoTransfer() {
    FireUpdate(SPH_SYNCHRONIZE_TRANSFER, SST_START, 0, 0);
    std::vector<SyncItem> items;
    engine_->Core().GetSyncItems(items);
    const ::filesync::TransferPlan plan = ::filesync::PlanTransfers(items);
    uint64_t done = 0;
    bool copied = false;
    HRESULT result = S_OK;
    for (const SyncItem& item : plan.items) {
        if (cancelled_) {
            result = FireError(SPH_SYNCHRONIZE_TRANSFER, LangText(IDS_FILESYNC_CANCELLED));
            break;
        }
        const HRESULT hr = CopyItem(SPH_SYNCHRONIZE_TRANSFER, item, plan.totalBytes, done);
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        copied = copied || hr == S_OK;
        done += ::filesync::ChooseDirection(item) == ::filesync::Direction::PcToDevice ? item.pcSize : item.deviceSize;
    }
    // What was copied is recorded at once, so a session that ends early leaves no false
    // conflicts behind; a record that cannot be saved fails the phase.
    if (copied && FAILED(engine_->SaveSyncDatabase(deviceId_)) && SUCCEEDED(result))
        result = FireError(SPH_SYNCHRONIZE_TRANSFER, LangText(IDS_FILESYNC_NO_MERGE));
    if (FAILED(result))
        return result;
    FireUpdate(SPH_SYNCHRONIZE_TRANSFER, SST_COMPLETE, 0, 0);
    return S_OK;
}

HRESULT FileSynchronizer::DoResolve() {
    FireUpdate(SPH_SYNCHRONIZE_RESOLVE, SST_START, 0, 0);
    std::vector<SyncItem> all;
    engine_->Core().GetSyncItems(all);
    std::vector<SyncItem> conflicts;
    for (const SyncItem& item : all) {
        if ((item.flags & ::filesync::kConflict) != 0)
            conflicts.push_back(item);
    }
    bool copied = false;
    HRESULT result = S_OK;
    for (size_t position = 0; position < conflicts.size(); ++position) {
        SyncItem item = conflicts[position];
        if (cancelled_) {
            result = FireError(SPH_SYNCHRONIZE_RESOLVE, LangText(IDS_FILESYNC_CANCELLED));
            break;
        }
        if (resolution_ == SSR_MANUAL_RESOLUTION) {
            bool skipped = false;
            if (!RunConflictDialog(parent_, item, conflictWindow_, skipped)) {
                result = FireError(SPH_SYNCHRONIZE_RESOLVE, LangText(IDS_FILESYNC_NO_CONFLICT_DIALOG));
                break;
            }
            if (skipped)
                continue;
        } else if (resolution_ == SSR_REPLACE_ON_DEVICE) {
            item.deviceTime = 0;
        } else if (resolution_ == SSR_REPLACE_ON_COMPUTER) {
            item.pcTime = 0;
        }
        const HRESULT hr = CopyItem(SPH_SYNCHRONIZE_RESOLVE, item, 0, 0);
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        if (hr == S_OK) {
            copied = true;
            FireUpdate(SPH_SYNCHRONIZE_RESOLVE, SST_UPDATE, position, conflicts.size());
        }
    }
    if (copied && FAILED(engine_->SaveSyncDatabase(deviceId_)) && SUCCEEDED(result))
        result = FireError(SPH_SYNCHRONIZE_RESOLVE, LangText(IDS_FILESYNC_NO_MERGE));
    if (FAILED(result))
        return result;
    FireUpdate(SPH_SYNCHRONIZE_RESOLVE, SST_COMPLETE, 0, 0);
    return S_OK;
}

HRESULT FileSynchronizer::DoFinalize() {
    FireUpdate(SPH_FINALIZE, SST_START, 0, 0);
    // The next session starts from this state: one that is not saved fails the session.
    const HRESULT saved = engine_->SaveSyncDatabase(deviceId_);
    if (hub_)
        hub_->Refresh();
    if (FAILED(saved))
        return FireError(SPH_FINALIZE, LangText(IDS_FILESYNC_NO_MERGE));
    // Device files left out for their names are said in the session's last status.
    if (leftOut_ > 0)
        FireCustomUpdate(SPH_FINALIZE, SST_COMPLETE, LeftOutText());
    else
        FireUpdate(SPH_FINALIZE, SST_COMPLETE, 0, 0);
    return S_OK;
}

} // namespace tv::filesync
