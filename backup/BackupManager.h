// The backup manager: runs a device's backup on a thread of its own.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ZvBackupMgr.h"
#include <string>

namespace tv::backup {

class BackupManager : public com::ComObject<BackupManager, IZvBackupMgr> {
public:
    ~BackupManager() override;

    // IZvBackupMgr
    STDMETHODIMP Run(BSTR pDevId) override;
    STDMETHODIMP GetCompatibleBackuper(BSTR pDevId, IZvBackuper** pBackuper) override;

private:
    static DWORD WINAPI RunThread(void* self);
    void BackUp();

    com::CriticalSection lock_;
    com::UniqueHandle thread_;
    std::wstring deviceId_;
};

} // namespace tv::backup
