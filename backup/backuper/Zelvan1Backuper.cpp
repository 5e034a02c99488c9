#include "Zelvan1Backuper.h"
#include "AnsiText.h"
#include "BackupFileStream.h"
#include "BackupIds.h"
#include "BackupTexts.h"
#include "DevEntryEnumerator.h"
#include "DeviceGuards.h"
#include "DllModule.h"
#include "FileClass.h"
#include "HResult.h"
#include "LogLine.h"
#include "SetNames.h"
#include "StagedFiles.h"
#include <shlwapi.h>
#include <algorithm>
#include <cstdio>
#include <new>

namespace tv::backup {

// {836A58B4-75B1-4717-8179-E45DC5C3FC79}
const CLSID CLSID_Zelvan1Backuper = {0x836a58b4, 0x75b1, 0x4717, {0x81, 0x79, 0xe4, 0x5d, 0xc5, 0xc3, 0xfc, 0x79}};

namespace {

constexpr long kModel10 = 16;
constexpr long kModel15 = 21;
constexpr long kTypeVolume = 2;
constexpr long kTypeFolder = 4;
constexpr long kTypeFile = 8;
constexpr char kMarkerName[] = "backup.dat";
constexpr HRESULT kSetNotWritten = static_cast<HRESULT>(0x800700CE);

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The part of a device name after its first separator (empty when it has none).
std::string AfterFirstSeparator(const std::string& name, const std::string& separator) {
    const size_t at = name.find(separator);
    return at == std::string::npos ? std::string() : name.substr(at + separator.size());
}

// Reads a device listing a batch of records at a time: each fetch is a call into the hub's
// apartment. The records' strings belong to whoever fetched them.
class ListingReader {
  public:
    explicit ListingReader(IZvEnumFileItems* items) : items_(items) {}
    ListingReader(const ListingReader&) = delete;
    ListingReader& operator=(const ListingReader&) = delete;
    ~ListingReader() { Free(); }

    // The next record, null at the end of the listing.
    const ZVFILEITEM* Next() {
        if (at_ == count_) {
            Free();
            LONG fetched = 0;
            if (FAILED(items_->Next(kBatch, batch_, &fetched)) || fetched <= 0)
                return nullptr;
            count_ = std::min<LONG>(fetched, kBatch);
        }
        return &batch_[at_++];
    }
    static std::string Name(const ZVFILEITEM& item) { return item.strName ? item.strName : ""; }

  private:
    void Free() {
        for (LONG i = 0; i < count_; ++i) {
            CoTaskMemFree(batch_[i].strName);
            CoTaskMemFree(batch_[i].strDesc);
            CoTaskMemFree(batch_[i].strIconFile);
            batch_[i] = {};
        }
        count_ = at_ = 0;
    }

    static constexpr LONG kBatch = 64;
    IZvEnumFileItems* items_;
    ZVFILEITEM batch_[kBatch] = {};
    LONG count_ = 0;
    LONG at_ = 0;
};

HRESULT CreateEmptyFile(const std::string& path) {
    com::UniqueFileHandle file(
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? S_OK : com::LastErrorHResult();
}

void DeleteStaged(const std::string& path) {
    DeleteLocalFile(path);
}

} // namespace

Zelvan1Backuper::Zelvan1Backuper() : doneEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    language_ = dll::LanguageLibrary();
    separator_ = LoadText(language_, IDS_BACKUP_SEPARATOR);
    if (separator_.empty())
        separator_ = "\\";
}

Zelvan1Backuper::~Zelvan1Backuper() = default;

std::string Zelvan1Backuper::Text(UINT id) const { return LoadText(language_, id); }

std::string Zelvan1Backuper::Hex(HRESULT hr) const {
    return FormatText(language_, IDS_BACKUP_FAILED, static_cast<unsigned long>(hr));
}

void Zelvan1Backuper::Error(const std::string& text) {
    if (!errorReported_)
        firstError_ = text;
    errorReported_ = true;
    if (sink_)
        if (com::UniqueBstr bstr = com::AnsiToUniqueBstr(text))
            sink_->OnError(bstr.Get());
}

void Zelvan1Backuper::Step(UINT id) {
    if (sink_)
        if (com::UniqueBstr bstr = com::AnsiToUniqueBstr(Text(id)))
            sink_->OnProcess(bstr.Get());
}

void Zelvan1Backuper::Status(UINT id) {
    Status(Text(id));
}

void Zelvan1Backuper::Status(const std::string& text) {
    if (sink_)
        if (com::UniqueBstr bstr = com::AnsiToUniqueBstr(text))
            sink_->OnStatus(bstr.Get());
}

STDMETHODIMP Zelvan1Backuper::isCompatible(BSTR pDevId) {
    com::ComPtr<IZelvanMgr> hub;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                                         reinterpret_cast<void**>(&hub)));
    std::string id = com::ToAnsi(pDevId);
    long model = 0, submodel = 0;
    TV_RETURN_IF_FAILED(hub->GetDeviceVersion(id.data(), &model, &submodel));
    return model == kModel10 || model == kModel15 ? S_OK : S_FALSE;
}

STDMETHODIMP Zelvan1Backuper::GetUserFriendlyName(BSTR* pName) {
    if (!pName)
        return E_POINTER;
    *pName = com::AnsiToUniqueBstr(Text(IDS_BACKUP_BACKUPER_NAME)).Detach();
    return *pName ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Zelvan1Backuper::Advise(IZvBackupProgress* piProgress) {
    sink_ = piProgress;
    return S_OK;
}

STDMETHODIMP Zelvan1Backuper::UnAdvise() {
    sink_.Reset();
    cancelEvent_.Reset();
    return S_OK;
}

STDMETHODIMP Zelvan1Backuper::GetEvent(LONG_PTR* pHandle) {
    if (!pHandle)
        return E_POINTER;
    *pHandle = 0;
    GUID guid;
    TV_RETURN_IF_FAILED(CoCreateGuid(&guid));
    char name[64];
    std::snprintf(name, sizeof(name), "%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    cancelEvent_.Reset(CreateEventA(nullptr, TRUE, FALSE, name));
    if (!cancelEvent_)
        return com::LastErrorHResult();
    *pHandle = reinterpret_cast<LONG_PTR>(cancelEvent_.Get());
    return S_OK;
}

bool Zelvan1Backuper::CheckCancelled() {
    if (!cancelled_ && cancelEvent_ && WaitForSingleObject(cancelEvent_.Get(), 0) == WAIT_OBJECT_0)
        cancelled_ = true;
    return cancelled_;
}

STDMETHODIMP Zelvan1Backuper::Run(long isBackup, BSTR strDevID, BSTR strFileName, long nInfoFlags) {
    // The sink may call back into this object; keep it alive for the run.
    com::ComPtr<Zelvan1Backuper> self(this);
    if (sink_)
        sink_->OnStart();
    HRESULT hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                                  reinterpret_cast<void**>(&hub_));
    if (FAILED(hr)) {
        Error(Hex(hr));
        if (sink_)
            sink_->OnExit();
        return hr;
    }
    deviceId_ = com::ToAnsi(strDevID);
    long submodel = 0;
    hr = hub_->GetDeviceVersion(deviceId_.data(), &model_, &submodel);
    if (FAILED(hr)) {
        Error(Hex(hr));
    } else {
        hr = RunOperation(isBackup != 0, strDevID, strFileName, nInfoFlags);
    }
    if (sink_)
        sink_->OnExit();
    if (SUCCEEDED(hr)) {
        const HRESULT refreshed = hub_->Refresh();
        hr = hr == S_OK ? refreshed : hr;
    }
    hub_->put_AutoPC_ON_PC_OFF_Mode(deviceId_.data(), 1);
    hub_.Reset();
    return hr;
}

HRESULT Zelvan1Backuper::RunOperation(bool isBackup, BSTR deviceId, BSTR fileName, long flags) {
    cancelled_ = errorReported_ = itemFailed_ = foreignSetAccepted_ = removingLibraries_ = false;
    firstError_.clear();
    leftOut_.clear();
    hub_->put_AutoPC_ON_PC_OFF_Mode(deviceId_.data(), 0);
    HRESULT hr = S_OK;
    HRESULT removalFailure = S_OK;
    std::string removalError;
    const std::string word = Text(isBackup ? IDS_BACKUP_WORD_BACKUP : IDS_BACKUP_WORD_RESTORE);
    {
        PcModeGuard pcMode(hub_.Get(), deviceId_.c_str());
        if (sink_)
            if (com::UniqueBstr step = com::AnsiToUniqueBstr(
                    FormatText(language_, IDS_BACKUP_RUNNING, word.c_str(), deviceId_.c_str())))
                sink_->OnProcess(step.Get());
        com::ComPtr<IZvCAPProvider> provider;
        hr = CoCreateInstance(CLSID_ZvBackupMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvCAPProvider),
                              reinterpret_cast<void**>(&provider));
        if (FAILED(hr)) {
            Error(Hex(hr));
        } else {
            if (isBackup) {
                hr = provider->BackupMe(this, deviceId, fileName, flags);
            } else {
                hr = provider->IsMyCAP(deviceId, fileName);
                if (hr == S_FALSE) {
                    foreignSetAccepted_ = true;
                    const std::string question = Text(IDS_BACKUP_FOREIGN_SET);
                    const std::string caption = Text(IDS_BACKUP_QUESTION_CAPTION);
                    hr = MessageBoxA(nullptr, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES
                             ? S_OK
                             : S_FALSE;
                }
                if (hr == S_OK && (flags & kRemoveLibraries)) {
                    removingLibraries_ = true;
                    const HRESULT removed = RemoveLibraries();
                    removingLibraries_ = false;
                    // A library that could not be deleted does not stop the set's files from
                    // going back; the run fails with it at the end. A cancel stops the restore.
                    if (removed == S_FALSE)
                        hr = S_FALSE;
                    else if (FAILED(removed) || itemFailed_)
                        removalFailure = FAILED(removed) ? removed : E_FAIL;
                    if (FAILED(removalFailure))
                        removalError = errorReported_ ? firstError_ : Hex(removalFailure);
                    // The restore's own errors are counted afresh.
                    itemFailed_ = errorReported_ = false;
                }
                if (hr == S_OK)
                    hr = provider->RestoreMe(this, deviceId, fileName, flags);
                if (hr == S_OK && FAILED(removalFailure)) {
                    // Shown again last: the restore's own steps replaced it on the page.
                    Error(removalError);
                    hr = removalFailure;
                }
            }
            if (hr == S_OK && isBackup && !leftOut_.empty()) {
                // Not a whole backup: say so, with the count; the log names each file.
                Status(FormatText(language_, IDS_BACKUP_LEFT_OUT, static_cast<long>(leftOut_.size())));
            } else if (hr == S_OK) {
                Status(isBackup ? IDS_BACKUP_SUCCEEDED : IDS_BACKUP_RESTORE_SUCCEEDED);
            } else if (hr == S_FALSE) {
                Status(FormatText(language_, IDS_BACKUP_CANCELLED, word.c_str(), deviceId_.c_str()));
            } else if (hr == kSetNotWritten) {
                Error(FormatText(language_, IDS_BACKUP_NOT_WRITTEN, com::ToAnsi(fileName).c_str()));
            } else if (FAILED(hr) && !errorReported_) {
                Error(Hex(hr));
            }
        }
    }
    if (!errorReported_ && SUCCEEDED(removalFailure))
        Step(isBackup ? IDS_BACKUP_DONE : IDS_RESTORE_DONE);
    return hr;
}

HRESULT Zelvan1Backuper::PrepareStagingFolder(std::string& folder) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder = temp;
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    folder += separator_ + deviceId_;
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Error(FormatText(language_, IDS_BACKUP_STAGING_FOLDER, folder.c_str()));
        return E_FAIL;
    }
    stagedFolders_.clear();
    stagedFolders_.insert(folder);
    return S_OK;
}

bool Zelvan1Backuper::CreateStagingFolders(const std::string& path) {
    // Every level is made once per run: many files share a folder.
    if (stagedFolders_.count(path))
        return true;
    for (size_t at = path.find(separator_, 3);; at = path.find(separator_, at + separator_.size())) {
        const std::string level = at == std::string::npos ? path : path.substr(0, at);
        if (!stagedFolders_.count(level)) {
            if (!CreateDirectoryA(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                Error(FormatText(language_, IDS_BACKUP_STAGING_FOLDER, level.c_str()));
                return false;
            }
            stagedFolders_.insert(level);
        }
        if (at == std::string::npos)
            return true;
    }
}

bool Zelvan1Backuper::Stageable(const std::string& staging, const std::string& name) const {
    return IsSafeEntryName(name) && staging.size() + separator_.size() + name.size() < MAX_PATH;
}

void Zelvan1Backuper::LeaveOut(const std::string& name) {
    leftOut_.push_back(name);
    WriteLogLine(FormatText(language_, IDS_BACKUP_LEFT_OUT_LOG, deviceId_.c_str(), name.c_str()));
}

void Zelvan1Backuper::QueueMarker(std::vector<PathPair>& markers, const std::string& staging, const std::string& root) {
    const std::string tail = separator_ + root + separator_ + "System" + separator_ + kMarkerName;
    markers.push_back({deviceId_ + tail, staging + tail});
}

STDMETHODIMP Zelvan1Backuper::GetEntries(long nInfoFlags, IZvEnumDevEntries** pEntries) {
    Step(IDS_BACKUP_COLLECTING);
    Status(IDS_BACKUP_WAIT);
    if (!pEntries)
        return E_POINTER;
    *pEntries = nullptr;
    if (!hub_)
        return E_UNEXPECTED;
    com::ComPtr<IZvEnumFileItems> items;
    HRESULT hr = hub_->GetAllItems(deviceId_.data(), &items);
    if (FAILED(hr) || !items) {
        Error(Text(IDS_BACKUP_LISTING_FAILED));
        return FAILED(hr) ? hr : E_FAIL;
    }
    if (CheckCancelled())
        return S_FALSE;
    std::string staging;
    TV_RETURN_IF_FAILED(PrepareStagingFolder(staging));

    std::vector<PathPair> copies, markers;
    std::vector<com::ComPtr<BackupFileStream>> entries;
    uint64_t total = 0;
    ListingReader listing(items.Get());
    while (const ZVFILEITEM* next = listing.Next()) {
        if (CheckCancelled())
            return S_FALSE;
        const ZVFILEITEM& item = *next;
        const std::string name = ListingReader::Name(item);
        // A volume or folder whose name cannot be staged is not made; each file in it is left
        // out on its own below.
        if (item.type != kTypeFile && !Stageable(staging, name))
            continue;
        if (item.type == kTypeVolume && model_ == kModel15) {
            QueueMarker(markers, staging, name);
        } else if ((item.type == kTypeVolume && model_ == kModel10) || (item.type == kTypeFolder && model_ == kModel15)) {
            if (!CreateStagingFolders(staging + separator_ + name))
                return E_FAIL;
        } else if (item.type == kTypeFile) {
            const std::string devicePath = deviceId_ + separator_ + name;
            if (EndsWithNoCase(name, kMarkerName)) {
                auto marker = std::find_if(markers.begin(), markers.end(),
                                           [&](const PathPair& m) { return m.device == devicePath; });
                if (marker != markers.end())
                    markers.erase(marker);
                continue;
            }
            if (StartsWith(AfterFirstSeparator(name, separator_), "System") ||
                !IsFileInBackupSet(name, static_cast<uint32_t>(nInfoFlags), static_cast<uint32_t>(item.attr)))
                continue;
            // A name the PC cannot take (a device name such as COM1, a wildcard, a trailing dot) is
            // never staged: it could open a device or land under another name.
            if (!Stageable(staging, name)) {
                LeaveOut(name);
                continue;
            }
            const size_t folderEnd = name.rfind(separator_);
            if (folderEnd != std::string::npos && !CreateStagingFolders(staging + separator_ + name.substr(0, folderEnd)))
                return E_FAIL;
            const std::string stagedPath = staging + separator_ + name;
            DeleteStaged(stagedPath); // a file left by an earlier run is not asked about
            com::ComPtr<BackupFileStream> entry;
            hr = BackupFileStream::FromItem(item, entry);
            if (FAILED(hr)) {
                Error(Text(IDS_BACKUP_ENTRY_FAILED));
                return hr;
            }
            copies.push_back({devicePath, stagedPath});
            entries.push_back(std::move(entry));
            total += static_cast<uint32_t>(item.nSize);
        }
    }
    if (copies.empty()) {
        Error(Text(IDS_BACKUP_NOTHING_SELECTED));
        return E_FAIL;
    }
    Step(IDS_BACKUP_COPYING_FROM);
    hr = Transfer(copies, Direction::kFromDevice, total);
    if (hr != S_OK) {
        for (const PathPair& copy : copies)
            DeleteStaged(copy.staged);
        return hr;
    }
    if (model_ == kModel15 && !markers.empty()) {
        hr = WriteMarkers(markers);
        if (hr != S_OK) {
            for (const PathPair& copy : copies)
                DeleteStaged(copy.staged);
            return hr;
        }
    }
    // Each staged copy goes as soon as the set has read it, beside the set's writing; any left
    // go with the last entry.
    // Without a remover the entries remove their copies themselves.
    const std::shared_ptr<StagedFileRemover> remover = RemoverOf(copies);
    EntryList list;
    for (size_t i = 0; i < entries.size(); ++i) {
        hr = entries[i]->OpenFile(copies[i].staged, remover);
        if (FAILED(hr)) {
            char shortened[36] = {};
            PathCompactPathExA(shortened, copies[i].staged.c_str(), sizeof(shortened), 0);
            Error(FormatText(language_, IDS_BACKUP_STAGED_OPEN, shortened));
            for (size_t j = i; j < copies.size(); ++j)
                DeleteStaged(copies[j].staged);
            return hr;
        }
        list.emplace_back(entries[i].Get());
    }
    hr = DevEntryEnumerator::Create(std::move(list), pEntries);
    if (FAILED(hr))
        Error(Hex(hr));
    return hr;
}

std::shared_ptr<StagedFileRemover> Zelvan1Backuper::RemoverOf(const std::vector<PathPair>& pairs) {
    try {
        std::vector<std::string> staged;
        for (const PathPair& pair : pairs)
            staged.push_back(pair.staged);
        return std::make_shared<StagedFileRemover>(staged);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HRESULT Zelvan1Backuper::Transfer(const std::vector<PathPair>& pairs, Direction direction, uint64_t total,
                                  const std::function<bool()>& work) {
    std::vector<LPSTR> sources, destinations;
    size_t longest = 0;
    for (const PathPair& pair : pairs) {
        const std::string& from = direction == Direction::kFromDevice ? pair.device : pair.staged;
        const std::string& to = direction == Direction::kFromDevice ? pair.staged : pair.device;
        sources.push_back(const_cast<LPSTR>(from.c_str()));
        destinations.push_back(const_cast<LPSTR>(to.c_str()));
        longest = std::max({longest, from.size(), to.size()});
    }
    scale_ = ProgressScale(total);
    if (sink_)
        sink_->OnNumItems(scale_.Total());
    ResetEvent(doneEvent_.Get());
    const HRESULT hr = hub_->CopyFileItems(static_cast<long>(pairs.size()), static_cast<long>(longest + 1),
                                           sources.data(), destinations.data(), this);
    if (FAILED(hr)) {
        Error(Text(IDS_BACKUP_TRANSFER_FAILED));
        return hr;
    }
    WaitForTransfer(work);
    if (sink_)
        sink_->OnOperComplete();
    if (cancelled_)
        return S_FALSE;
    if (itemFailed_) {
        itemFailed_ = false;
        return E_FAIL;
    }
    return S_OK;
}

void Zelvan1Backuper::WaitForTransfer(const std::function<bool()>& work) {
    // The cancel event wakes the wait too, so a cancel is passed on even when no message comes.
    // A wait may not name one handle twice: without a cancel event it waits for the done event alone.
    // While there is work it only looks, and does a piece of it between the looks.
    bool working = static_cast<bool>(work);
    for (;;) {
        const HANDLE handles[2] = {doneEvent_.Get(), cancelEvent_.Get()};
        const DWORD woken = MsgWaitForMultipleObjectsEx(cancelEvent_ ? 2 : 1, handles, working ? 0 : INFINITE,
                                                        QS_ALLINPUT, MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            break;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        RemoveCopiedFiles();
        PassOnCancel();
        if (working)
            working = !cancelled_ && work();
    }
    RemoveCopiedFiles();
}

void Zelvan1Backuper::RemoveCopiedFiles() {
    if (remover_)
        for (const std::string& file : copiedFiles_)
            remover_->Remove(file);
    copiedFiles_.clear();
}

void Zelvan1Backuper::PassOnCancel() {
    if (cancelEvent_ && WaitForSingleObject(cancelEvent_.Get(), 0) == WAIT_OBJECT_0) {
        ResetEvent(cancelEvent_.Get());
        cancelled_ = true;
        hub_->CancelFileOperation(deviceId_.data());
    }
}

HRESULT Zelvan1Backuper::WriteMarkers(const std::vector<PathPair>& markers) {
    long oldUi = 1;
    hub_->get_EnableUI(&oldUi);
    hub_->put_EnableUI(0);
    Step(IDS_BACKUP_WRITING_MARKERS);
    HRESULT hr = S_OK;
    for (const PathPair& marker : markers) {
        const size_t folderEnd = marker.staged.rfind(separator_);
        CreateStagingFolders(marker.staged.substr(0, folderEnd));
        if (FAILED(CreateEmptyFile(marker.staged)) ||
            !SetFileAttributesA(marker.staged.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
            Error(FormatText(language_, IDS_BACKUP_NOT_WRITTEN, marker.staged.c_str()));
            hr = E_FAIL;
            break;
        }
    }
    // The marker's folder below its volume is made first: a volume may have no "System" folder
    // yet, and a marker that cannot land would fail a restore whose files are all written. A
    // folder that exists already refuses, which changes nothing.
    if (hr == S_OK)
        for (const PathPair& marker : markers) {
            const std::string folder = marker.device.substr(0, marker.device.rfind(separator_));
            hub_->CreateFolder(const_cast<LPSTR>(folder.c_str()));
        }
    if (hr == S_OK)
        hr = Transfer(markers, Direction::kToDevice, markers.size());
    for (const PathPair& marker : markers)
        DeleteStaged(marker.staged);
    hub_->put_EnableUI(oldUi);
    return hr;
}

STDMETHODIMP Zelvan1Backuper::PutEntries(IZvEnumDevEntries* piEntries) {
    Step(IDS_BACKUP_PREPARING_RESTORE);
    Status(IDS_BACKUP_WAIT);
    if (!piEntries)
        return E_POINTER;
    if (!hub_)
        return E_UNEXPECTED;
    std::string staging;
    TV_RETURN_IF_FAILED(PrepareStagingFolder(staging));
    std::vector<PathPair> copies, markers;
    std::vector<std::string> markedRoots, createdFolders;
    std::vector<OrderedStaging::Item> items;
    uint64_t total = 0;
    // First the names and sizes of every file to restore, with their folders; the data is read
    // when each file is staged.
    for (;;) {
        com::ComPtr<IStream> entry;
        ULONG fetched = 0;
        if (piEntries->Next(1, &entry, &fetched) != S_OK || fetched != 1 || !entry)
            break;
        if (CheckCancelled())
            return S_FALSE;
        STATSTG stat = {};
        if (FAILED(entry->Stat(&stat, STATFLAG_DEFAULT)))
            continue;
        com::UniqueTaskMem<wchar_t> wideName(stat.pwcsName);
        const std::string name = com::TerminatedToAnsi(wideName.Get());
        if (foreignSetAccepted_ && name.size() == 8 && name[0] == '@')
            continue;
        if (IsDeviceLibrary(name))
            continue;
        // A crafted set may name files outside the staging folder or the device, or devices
        // such as a serial port: never written.
        if (!Stageable(staging, name)) {
            Error(FormatText(language_, IDS_BACKUP_NOT_RESTORED, name.c_str()));
            continue;
        }
        const size_t folderEnd = name.rfind(separator_);
        if (folderEnd != std::string::npos) {
            if (!CreateStagingFolders(staging + separator_ + name.substr(0, folderEnd)))
                return E_FAIL;
            if (model_ == kModel15) {
                // The device folders along the path below its volume, each asked for once. The
                // volume (the first component) is the device's own and is never created.
                const size_t volumeEnd = name.find(separator_);
                for (size_t at = name.find(separator_, volumeEnd + separator_.size());
                     at != std::string::npos && at <= folderEnd;
                     at = name.find(separator_, at + separator_.size())) {
                    const std::string folder = deviceId_ + separator_ + name.substr(0, at);
                    if (std::find(createdFolders.begin(), createdFolders.end(), folder) ==
                        createdFolders.end()) {
                        createdFolders.push_back(folder);
                        hub_->CreateFolder(const_cast<LPSTR>(folder.c_str()));
                    }
                }
                const std::string root = name.substr(0, volumeEnd);
                if (std::find(markedRoots.begin(), markedRoots.end(), root) == markedRoots.end()) {
                    markedRoots.push_back(root);
                    QueueMarker(markers, staging, root);
                }
            }
        }
        const std::string stagedPath = staging + separator_ + name;
        const uint32_t size = static_cast<uint32_t>(stat.cbSize.QuadPart);
        items.push_back({stagedPath, stat.mtime, [entry, size](std::vector<uint8_t>& data) {
                             return SUCCEEDED(ReadWholeEntry(entry.Get(), size, data));
                         }});
        copies.push_back({deviceId_ + separator_ + name, stagedPath});
        total += size;
    }
    if (copies.empty()) {
        Error(Text(IDS_BACKUP_NOTHING_SELECTED));
        return E_FAIL;
    }
    OrderedStaging staged(std::move(items));
    auto removeStaged = [&] {
        staged.Finish();
        for (const PathPair& copy : copies)
            DeleteStaged(copy.staged);
    };
    // The device copy starts once the first file is staged; the others are staged beside it,
    // each one before the hub comes to it.
    if (const auto ready = staged.ReadyThrough(0, cancelEvent_.Get()); ready != OrderedStaging::Ready::kYes) {
        if (ready == OrderedStaging::Ready::kStopped && CheckCancelled()) {
            removeStaged();
            return S_FALSE;
        }
        Error(FormatText(language_, IDS_BACKUP_NOT_RESTORED, staged.Finish().c_str()));
        removeStaged();
        return E_FAIL;
    }
    Step(IDS_BACKUP_COPYING_TO);
    std::string bootFile;
    for (const PathPair& copy : copies)
        if (EndsWithNoCase(copy.device, ".boot")) {
            bootFile = copy.device.substr(copy.device.rfind('\\') + 1);
            break;
        }
    HRESULT hr = S_OK;
    {
        // Each staged file goes as soon as the device has taken it, beside the transfer.
        const std::shared_ptr<StagedFileRemover> remover = RemoverOf(copies);
        remover_ = remover.get();
        staging_ = &staged;
        copiedItems_ = 0;
        copiedFiles_.clear();
        hr =
            Transfer(copies, Direction::kToDevice, total, [&] { return !itemFailed_ && staged.StageNext(); });
        staging_ = nullptr;
        remover_ = nullptr;
        // No file is written once the staging has finished: the remover may take them all.
        const std::string refused = staged.Finish();
        if (!remover)
            for (const PathPair& copy : copies)
                DeleteStaged(copy.staged);
        if (hr == S_OK && !refused.empty()) {
            Error(FormatText(language_, IDS_BACKUP_NOT_RESTORED, refused.c_str()));
            hr = E_FAIL;
        }
    }
    if (hr != S_OK)
        return hr;
    if (model_ == kModel15 && !markers.empty()) {
        hr = WriteMarkers(markers);
        if (hr != S_OK)
            return hr;
    }
    if (model_ == kModel10 && !bootFile.empty()) {
        com::ComPtr<IZelvanMgrDisp> disp;
        TV_RETURN_IF_FAILED(hub_->QueryInterface(__uuidof(IZelvanMgrDisp), reinterpret_cast<void**>(&disp)));
        com::UniqueBstr device = com::AnsiToUniqueBstr(deviceId_);
        com::UniqueBstr command = com::AnsiToUniqueBstr("boot " + bootFile);
        com::UniqueBstr response;
        return disp->Command(device.Get(), command.Get(), response.Put());
    }
    return S_OK;
}

HRESULT Zelvan1Backuper::RemoveLibraries() {
    Step(IDS_BACKUP_REMOVING_LIBRARIES);
    Status(IDS_BACKUP_WAIT);
    com::ComPtr<IZvEnumFileItems> items;
    HRESULT hr = hub_->GetAllItems(deviceId_.data(), &items);
    if (FAILED(hr) || !items) {
        Error(Text(IDS_BACKUP_LISTING_FAILED));
        return FAILED(hr) ? hr : E_FAIL;
    }
    std::vector<std::string> paths;
    ListingReader listing(items.Get());
    for (;;) {
        if (CheckCancelled())
            return S_FALSE;
        const ZVFILEITEM* item = listing.Next();
        if (!item)
            break;
        const std::string name = ListingReader::Name(*item);
        if ((item->type == kTypeFolder || item->type == kTypeFile) &&
            !StartsWith(AfterFirstSeparator(name, separator_), "System") && IsDeviceLibrary(name))
            paths.push_back(deviceId_ + separator_ + name);
    }
    // A device without libraries has nothing to remove: said, and no failure.
    if (paths.empty()) {
        Status(IDS_BACKUP_NOTHING_SELECTED);
        return S_OK;
    }
    scale_ = ProgressScale(paths.size());
    if (sink_)
        sink_->OnNumItems(scale_.Total());
    std::vector<LPSTR> list;
    size_t longest = 0;
    for (const std::string& path : paths) {
        list.push_back(const_cast<LPSTR>(path.c_str()));
        longest = std::max(longest, path.size());
    }
    ResetEvent(doneEvent_.Get());
    hr = hub_->DeleteFileItems(static_cast<long>(list.size()), static_cast<long>(longest + 1), list.data(), this);
    if (SUCCEEDED(hr)) {
        WaitForTransfer();
        if (sink_)
            sink_->OnOperComplete();
    }
    return hr;
}

STDMETHODIMP Zelvan1Backuper::OnOperationComplete() {
    SetEvent(doneEvent_.Get());
    return S_OK;
}

STDMETHODIMP Zelvan1Backuper::OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG) {
    // The hub waits for this call: its staged file is removed once the call has returned.
    if (remover_ && strItem) {
        try {
            copiedFiles_.emplace_back(strItem);
        } catch (const std::bad_alloc&) {
            remover_->Remove(strItem);
        }
    }
    if (sink_)
        sink_->OnItemComplete();
    if (strErrorDescription && *strErrorDescription) {
        if (!CheckCancelled())
            Error(FormatText(language_, removingLibraries_ ? IDS_BACKUP_LIBRARY_FAILED : IDS_BACKUP_COPY_FAILED,
                             strItem ? strItem : "", strErrorDescription));
        itemFailed_ = true;
    }
    // The hub takes the next file once this call returns: it is staged first. When it cannot
    // be, the copy stops there.
    if (staging_ && !itemFailed_ && !cancelled_) {
        switch (staging_->ReadyThrough(++copiedItems_, cancelEvent_.Get())) {
        case OrderedStaging::Ready::kFailed:
            hub_->CancelFileOperation(deviceId_.data());
            break;
        case OrderedStaging::Ready::kStopped:
            PassOnCancel();
            break;
        case OrderedStaging::Ready::kYes:
            break;
        }
    }
    return S_OK;
}

STDMETHODIMP Zelvan1Backuper::OnItemInit(LPSTR, LONG nSize) {
    if (sink_)
        sink_->OnNewItem(scale_.Scaled(nSize > 0 ? static_cast<uint64_t>(nSize) : 0));
    return S_OK;
}

STDMETHODIMP Zelvan1Backuper::OnItemProgress(LPSTR, LONG nProgress) {
    if (sink_)
        sink_->OnItemProgress(scale_.Scaled(nProgress > 0 ? static_cast<uint64_t>(nProgress) : 0));
    return S_OK;
}

} // namespace tv::backup
