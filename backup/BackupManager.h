// The backup manager: chooses a backuper for a device, runs each backup or restore as a wizard
// on a thread of its own, stores and reads the backup sets, and offers a backup or a restore
// when a device connects. One object per process.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "TypeInfoDispatch.h"
#include "ZvBackupMgr.h"
#include <ocidl.h>
#include <memory>
#include <string>
#include <vector>

namespace tv::backup {

struct BackupJob;

// The property page of the device sheet.
extern const CLSID CLSID_ZvBackupProperties;

class BackupManager
    : public com::ComObject<BackupManager, IZvBackupMgrDisp, IZvBackupMgr, IZvCAPProvider, ISpecifyPropertyPages> {
public:
    BackupManager();
    ~BackupManager() override;
    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    TV_DUAL_DISPATCH(IZvBackupMgrDisp, dispatch_)

    // IZvBackupMgrDisp
    STDMETHODIMP RestoreDevice(BSTR strDevID) override;
    STDMETHODIMP BackupDevice(BSTR strDevID) override;
    STDMETHODIMP CheckDevice(BSTR strDevID) override;
    STDMETHODIMP HasBackups(BSTR strDevID) override;

    // IZvBackupMgr
    STDMETHODIMP Run(BSTR pDevId) override;
    STDMETHODIMP GetCompatibleBackuper(BSTR pDevId, IZvBackuper** pBackuper) override;

    // IZvCAPProvider
    STDMETHODIMP BackupMe(IZvCAPConsumer* piConsumer, BSTR strDevID, BSTR strFileName, long nInfoFlags) override;
    STDMETHODIMP IsMyCAP(BSTR strDevID, BSTR strFileName) override;
    STDMETHODIMP RestoreMe(IZvCAPConsumer* piConsumer, BSTR strDevID, BSTR strFileName, long nInfoFlags) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

private:
    std::unique_ptr<BackupJob> MakeJob(BSTR deviceId) const;
    // Starts the wizard thread for the job; false when no thread could be made.
    bool StartWizard(std::unique_ptr<BackupJob> job);
    bool PreviousJobRunning();
    // Brings the window of the job on `thread` to the front; with none shown (the wizard has
    // closed, its thread still ends) says that the last job is still ending.
    void ShowRunningJob(HANDLE thread) const;
    HRESULT RunFixedJob(BSTR deviceId, bool isBackup);

    com::TypeInfoDispatch dispatch_;
    com::CriticalSection lock_;
    // The backupers of the category, in the order found. Each caller gets an instance made on
    // its own thread, so a backuper always runs in the apartment of the thread that calls it.
    std::vector<CLSID> backupers_;
    com::UniqueHandle worker_;
    HMODULE language_ = nullptr;
    std::string separator_;
};

} // namespace tv::backup
