#include "BackupManager.h"
#include "AnsiText.h"
#include "BackupIds.h"
#include "BackupJob.h"
#include "BackupSetStore.h"
#include "BackupSettings.h"
#include "BackupTexts.h"
#include "ConnectOffer.h"
#include "DeviceGuards.h"
#include "DllModule.h"
#include "FileClass.h"
#include "HResult.h"
#include "MessagePump.h"
#include <comcat.h>

namespace tv::backup {

// {429E31BF-438B-4C1A-98FE-E1B16478FBFE}
const CLSID CLSID_ZvBackupProperties = {
    0x429e31bf, 0x438b, 0x4c1a, {0x98, 0xfe, 0xe1, 0xb1, 0x64, 0x78, 0xfb, 0xfe}};

namespace {

// {22551026-B440-4C3D-B0A6-8B10C388749B}: the backupers' category.
const CATID kBackupersCategory = {0x22551026, 0xb440, 0x4c3d, {0xb0, 0xa6, 0x8b, 0x10, 0xc3, 0x88, 0x74, 0x9b}};

constexpr long kModelWithMarkers = 21;

// The hub's listing of a device path; a listing the hub answers without giving one is a failure.
HRESULT ListItems(IZelvanMgrDisp* hub, BSTR path, com::ComPtr<IZvDispItems>& listing) {
    com::ComPtr<IUnknown> items;
    TV_RETURN_IF_FAILED(hub->Items(path, &items));
    if (!items)
        return E_FAIL;
    return items->QueryInterface(__uuidof(IZvDispItems), reinterpret_cast<void**>(&listing));
}

// The window through which a job's thread talks to the user: its first shown top-level window
// that takes input (a question over the wizard, or the wizard itself), else its first shown one;
// null once the wizard has closed and the thread is only ending.
HWND ShownWindowOf(HANDLE thread) {
    struct Search {
        HWND active = nullptr;
        HWND shown = nullptr;
    } search;
    EnumThreadWindows(
        GetThreadId(thread),
        [](HWND window, LPARAM context) -> BOOL {
            auto& found = *reinterpret_cast<Search*>(context);
            if (!IsWindowVisible(window))
                return TRUE;
            if (!found.shown)
                found.shown = window;
            if (!IsWindowEnabled(window))
                return TRUE;
            found.active = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.active ? search.active : search.shown;
}

} // namespace

BackupManager::BackupManager() : dispatch_(__uuidof(IZvBackupMgrDisp)) {}

BackupManager::~BackupManager() = default;

HRESULT BackupManager::FinalConstruct() {
    com::ComPtr<ICatInformation> categories;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICatInformation, reinterpret_cast<void**>(&categories)));
    com::ComPtr<IEnumCLSID> classes;
    CATID wanted = kBackupersCategory;
    TV_RETURN_IF_FAILED(categories->EnumClassesOfCategories(1, &wanted, 0, nullptr, &classes));
    CLSID clsid;
    ULONG fetched = 0;
    while (classes && classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
        // A class that cannot be made is left out.
        com::ComPtr<IZvBackuper> probe;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                       __uuidof(IZvBackuper), reinterpret_cast<void**>(&probe))))
            backupers_.push_back(clsid);
    }
    language_ = dll::LanguageLibrary();
    separator_ = LoadText(language_, IDS_BACKUP_SEPARATOR);
    return S_OK;
}

void* BackupManager::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<IZvBackupMgrDisp*>(this);
    return nullptr;
}

std::unique_ptr<BackupJob> BackupManager::MakeJob(BSTR deviceId) const {
    auto job = std::make_unique<BackupJob>();
    job->deviceId = com::ToAnsi(deviceId);
    job->language = language_;
    job->separator = separator_;
    job->suffix = LoadText(language_, IDS_BACKUP_SET_SUFFIX);
    return job;
}

bool BackupManager::PreviousJobRunning() {
    if (!worker_)
        return false;
    if (WaitForSingleObject(worker_.Get(), 0) == WAIT_TIMEOUT)
        return true;
    worker_.Reset();
    return false;
}

bool BackupManager::StartWizard(std::unique_ptr<BackupJob> job) {
    com::UniqueHandle thread(CreateThread(nullptr, 0, BackupWizardThread, job.get(), 0, nullptr));
    if (!thread)
        return false;
    job.release(); // the wizard thread frees it
    worker_ = std::move(thread);
    return true;
}

void BackupManager::ShowRunningJob(HANDLE thread) const {
    if (HWND shown = thread ? ShownWindowOf(thread) : nullptr) {
        if (IsIconic(shown))
            ShowWindow(shown, SW_RESTORE);
        SetForegroundWindow(shown);
        BringWindowToTop(shown);
        return;
    }
    MessageBoxA(nullptr, LoadText(language_, IDS_BACKUP_STILL_ENDING).c_str(),
                LoadText(language_, IDS_BACKUP_QUESTION_CAPTION).c_str(),
                MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

STDMETHODIMP BackupManager::Run(BSTR pDevId) {
    com::UniqueHandle previous;
    {
        com::CriticalSectionLock guard(lock_);
        if (!PreviousJobRunning())
            return StartWizard(MakeJob(pDevId)) ? S_OK : E_FAIL;
        if (!DuplicateHandle(GetCurrentProcess(), worker_.Get(), GetCurrentProcess(), previous.Put(), 0,
                             FALSE, DUPLICATE_SAME_ACCESS))
            previous.Reset();
    }
    // Nothing starts while the last job's thread runs, and the user sees why.
    ShowRunningJob(previous.Get());
    return S_FALSE;
}

HRESULT BackupManager::RunFixedJob(BSTR deviceId, bool isBackup) {
    std::unique_ptr<BackupJob> job = MakeJob(deviceId);
    job->modeGiven = true;
    job->isBackup = isBackup;
    job->flags = ReadBackupFlags(job->deviceId);
    // One job at a time: wait for the earlier one, serving this thread's messages meanwhile.
    for (;;) {
        com::UniqueHandle previous;
        {
            com::CriticalSectionLock guard(lock_);
            if (!PreviousJobRunning()) {
                if (!StartWizard(std::move(job)))
                    return E_FAIL;
                DuplicateHandle(GetCurrentProcess(), worker_.Get(), GetCurrentProcess(), previous.Put(), 0, FALSE,
                                DUPLICATE_SAME_ACCESS);
                break;
            }
            DuplicateHandle(GetCurrentProcess(), worker_.Get(), GetCurrentProcess(), previous.Put(), 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        }
        if (!previous || !WaitForThreadWithPump(previous.Get()))
            return E_FAIL;
    }
    com::UniqueHandle started;
    {
        com::CriticalSectionLock guard(lock_);
        if (worker_)
            DuplicateHandle(GetCurrentProcess(), worker_.Get(), GetCurrentProcess(), started.Put(), 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
    }
    if (started)
        WaitForThreadWithPump(started.Get());
    return S_OK;
}

STDMETHODIMP BackupManager::BackupDevice(BSTR strDevID) { return RunFixedJob(strDevID, true); }

STDMETHODIMP BackupManager::RestoreDevice(BSTR strDevID) { return RunFixedJob(strDevID, false); }

STDMETHODIMP BackupManager::HasBackups(BSTR strDevID) {
    // The component's absence is the answer's failure.
    com::ComPtr<IUnknown> archive;
    static const CLSID kCapArchive = {0x0a01be5e, 0x29cd, 0x4ebe, {0xa1, 0x28, 0xd6, 0x15, 0x67, 0x71, 0x6d, 0x28}};
    TV_RETURN_IF_FAILED(CoCreateInstance(kCapArchive, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&archive)));
    const std::string device = com::ToAnsi(strDevID);
    const std::string folder = GetBackupFolder(separator_);
    for (const std::string& path : FindSetFiles(folder, separator_, LoadText(language_, IDS_BACKUP_SET_SUFFIX)))
        if (IsSetFileOfDevice(device, path))
            return S_OK;
    return S_FALSE;
}

STDMETHODIMP BackupManager::CheckDevice(BSTR strDevID) {
    com::ComPtr<IZelvanMgrDisp> hub;
    TV_RETURN_IF_FAILED(CreateLocalHub(&hub));
    BusyGuard busy(hub.Get());
    if (FAILED(busy.Result()))
        return E_FAIL;
    const std::string device = com::ToAnsi(strDevID);
    long model = 0;
    HRESULT hr = hub->GetDeviceModelVersion(strDevID, &model);
    com::UniqueBstr name;
    hr = hub->GetDeviceNameByID(strDevID, name.Put());
    bool markerMissing = false;
    if (model == kModelWithMarkers) {
        com::ComPtr<IZvDispItems> root;
        TV_RETURN_IF_FAILED(hr = ListItems(hub.Get(), strDevID, root));
        long count = 0;
        TV_RETURN_IF_FAILED(root->get_Count(&count));
        for (long i = 1; i <= count && !markerMissing; ++i) {
            long type = 0;
            com::UniqueBstr item;
            if (FAILED(root->get_ItemType(i, &type)) || type != 2 || FAILED(root->get_Item(i, item.Put())))
                continue;
            const std::string system = device + separator_ + com::ToAnsi(item.Get()) + separator_ + "System";
            com::UniqueBstr path = com::AnsiToUniqueBstr(system);
            com::ComPtr<IZvDispItems> listing;
            TV_RETURN_IF_FAILED(hr = ListItems(hub.Get(), path.Get(), listing));
            long entries = 0;
            TV_RETURN_IF_FAILED(listing->get_Count(&entries));
            bool found = false;
            for (long j = 1; j <= entries && !found; ++j) {
                com::UniqueBstr entry;
                found = SUCCEEDED(listing->get_Item(j, entry.Put())) && com::ToAnsi(entry.Get()) == "backup.dat";
            }
            markerMissing = !found;
        }
    }
    DWORD flags = ReadBackupFlags(device);
    const std::string shownName = name ? com::ToAnsi(name.Get()) : device;
    UINT offer = 0;
    DWORD silenceBit = 0;
    if (markerMissing && HasBackups(strDevID) == S_OK && !(flags & kNoRestoreOffer)) {
        offer = IDD_RESTORE_OFFER;
        silenceBit = kNoRestoreOffer;
    } else if (!(flags & kNoBackupOffer)) {
        offer = IDD_BACKUP_OFFER;
        silenceBit = kNoBackupOffer;
    }
    if (!offer)
        return hr;
    bool silence = false;
    com::ComPtr<IZelvanMgrDisp2> hub2;
    hub->QueryInterface(__uuidof(IZelvanMgrDisp2), reinterpret_cast<void**>(&hub2));
    const int answer = ShowConnectOffer(language_, offer, hub2.Get(), shownName, silence);
    if (silence) {
        flags |= silenceBit;
        WriteBackupFlags(device, flags);
    }
    if (answer != IDOK)
        return hr;
    busy.End();
    return offer == IDD_RESTORE_OFFER ? RestoreDevice(strDevID) : BackupDevice(strDevID);
}

STDMETHODIMP BackupManager::GetCompatibleBackuper(BSTR pDevId, IZvBackuper** pBackuper) {
    if (!pBackuper)
        return E_POINTER;
    *pBackuper = nullptr;
    std::vector<CLSID> candidates;
    {
        com::CriticalSectionLock guard(lock_);
        candidates = backupers_;
    }
    for (const CLSID& clsid : candidates) {
        com::ComPtr<IZvBackuper> backuper;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                    __uuidof(IZvBackuper), reinterpret_cast<void**>(&backuper))))
            continue;
        if (backuper->isCompatible(pDevId) == S_OK) {
            *pBackuper = backuper.Detach();
            return S_OK;
        }
    }
    return S_FALSE;
}

STDMETHODIMP BackupManager::BackupMe(IZvCAPConsumer* piConsumer, BSTR strDevID, BSTR strFileName,
                                     long nInfoFlags) {
    return StoreBackupSet(language_, piConsumer, strDevID, strFileName, nInfoFlags);
}

STDMETHODIMP BackupManager::IsMyCAP(BSTR strDevID, BSTR strFileName) { return IsSetOfDevice(strDevID, strFileName); }

STDMETHODIMP BackupManager::RestoreMe(IZvCAPConsumer* piConsumer, BSTR strDevID, BSTR strFileName,
                                      long nInfoFlags) {
    return RestoreBackupSet(piConsumer, strDevID, strFileName, nInfoFlags);
}

STDMETHODIMP BackupManager::GetPages(CAUUID* pPages) {
    if (!pPages)
        return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pPages->pElems)
        return E_OUTOFMEMORY;
    pPages->pElems[0] = CLSID_ZvBackupProperties;
    pPages->cElems = 1;
    return S_OK;
}

} // namespace tv::backup
