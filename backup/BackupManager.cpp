#include "BackupManager.h"

namespace tv::backup {

// The run thread holds a reference to the object, so the object outlives it.
BackupManager::~BackupManager() = default;

STDMETHODIMP BackupManager::Run(BSTR pDevId) {
    com::CriticalSectionLock guard(lock_);
    if (thread_) {
        if (WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT)
            return S_FALSE;
        thread_.Reset();
    }
    deviceId_ = pDevId ? pDevId : L"";
    AddRef();
    thread_.Reset(CreateThread(nullptr, 0, RunThread, this, 0, nullptr));
    if (!thread_) {
        Release();
        return E_FAIL;
    }
    return S_OK;
}

DWORD WINAPI BackupManager::RunThread(void* self) {
    com::ComApartment apartment;
    com::ComPtr<BackupManager> manager;
    manager.Attach(static_cast<BackupManager*>(self));
    manager->BackUp();
    return 0;
}

void BackupManager::BackUp() {
    // A backup needs a backuper that accepts the device; none is installed yet.
    com::ComPtr<IZvBackuper> backuper;
    GetCompatibleBackuper(nullptr, &backuper);
}

STDMETHODIMP BackupManager::GetCompatibleBackuper(BSTR, IZvBackuper** pBackuper) {
    if (!pBackuper)
        return E_POINTER;
    *pBackuper = nullptr;
    return E_FAIL;
}

} // namespace tv::backup
