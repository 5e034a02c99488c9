// The backuper of both device generations (models 16 and 21): copies the selected device files
// into a staging folder and hands them to the backup manager as entries, and puts the entries of
// a set back onto the device. Every device access goes through the hub.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ProgressScale.h"
#include "ZelvanMgr.h"
#include "ZvBackupMgr.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace tv::backup {

class OrderedStaging;
class StagedFileRemover;

extern const CLSID CLSID_Zelvan1Backuper;

class Zelvan1Backuper : public com::ComObject<Zelvan1Backuper, IZvBackuper, IZvBackupNotify, IZvCAPConsumer,
                                              IZvFileOperationCallback> {
public:
    Zelvan1Backuper();
    ~Zelvan1Backuper() override;

    // IZvBackuper
    STDMETHODIMP isCompatible(BSTR pDevId) override;
    STDMETHODIMP isTunable() override { return S_FALSE; }
    STDMETHODIMP Tune() override { return E_NOTIMPL; }
    STDMETHODIMP GetUserFriendlyName(BSTR* pName) override;
    STDMETHODIMP Run(long isBackup, BSTR strDevID, BSTR strFileName, long nInfoFlags) override;

    // IZvBackupNotify
    STDMETHODIMP Advise(IZvBackupProgress* piProgress) override;
    STDMETHODIMP UnAdvise() override;
    STDMETHODIMP GetEvent(LONG_PTR* pHandle) override;

    // IZvCAPConsumer
    STDMETHODIMP GetEntries(long nInfoFlags, IZvEnumDevEntries** pEntries) override;
    STDMETHODIMP PutEntries(IZvEnumDevEntries* piEntries) override;

    // IZvFileOperationCallback
    STDMETHODIMP OnOperationComplete() override;
    STDMETHODIMP OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG nErrorCode) override;
    STDMETHODIMP OnItemInit(LPSTR strItem, LONG nSize) override;
    STDMETHODIMP OnItemProgress(LPSTR strItem, LONG nProgress) override;
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }

private:
    // A device path and its twin in the staging folder.
    struct PathPair {
        std::string device;
        std::string staged;
    };
    enum class Direction { kFromDevice, kToDevice };
    // A remover of the pairs' staged files; null when there is no memory for it, and the caller
    // removes them itself.
    static std::shared_ptr<StagedFileRemover> RemoverOf(const std::vector<PathPair>& pairs);

    HRESULT RunOperation(bool isBackup, BSTR deviceId, BSTR fileName, long flags);
    HRESULT RemoveLibraries();
    // Copies the pairs through the hub and waits, telling the sink the transfer's `total` first;
    // S_FALSE when cancelled, E_FAIL when an item failed, the hub's failure when it refused.
    // `work` (may be empty) runs a piece at a time during the wait until it returns false.
    HRESULT Transfer(const std::vector<PathPair>& pairs, Direction direction, uint64_t total,
                     const std::function<bool()>& work = nullptr);
    HRESULT WriteMarkers(const std::vector<PathPair>& markers);
    // Waits for the hub's transfer to end, passing a cancel on to the hub, with `work` as in Transfer.
    void WaitForTransfer(const std::function<bool()>& work = nullptr);
    // Hands the staged files the hub has taken since the last look to the remover.
    void RemoveCopiedFiles();
    // Passes a cancel asked for on to the hub's transfer.
    void PassOnCancel();
    bool CheckCancelled();
    HRESULT PrepareStagingFolder(std::string& folder);
    bool CreateStagingFolders(const std::string& path);
    // Whether a device file's name can become a path below the staging folder.
    bool Stageable(const std::string& staging, const std::string& name) const;
    // Notes a device file a backup leaves out because its name cannot be staged.
    void LeaveOut(const std::string& name);
    void QueueMarker(std::vector<PathPair>& markers, const std::string& staging, const std::string& root);

    void Error(const std::string& text);
    void Step(UINT id);
    void Status(UINT id);
    void Status(const std::string& text);
    std::string Text(UINT id) const;
    std::string Hex(HRESULT hr) const;

    com::ComPtr<IZvBackupProgress> sink_;
    com::UniqueHandle cancelEvent_;
    com::UniqueHandle doneEvent_;
    com::ComPtr<IZelvanMgr> hub_;
    HMODULE language_ = nullptr;
    std::string deviceId_;
    std::string separator_;
    long model_ = 0;
    bool cancelled_ = false;
    bool errorReported_ = false;
    bool itemFailed_ = false;
    bool foreignSetAccepted_ = false;
    bool removingLibraries_ = false;
    // The first error since the error-reported flag was last cleared.
    std::string firstError_;
    // The staged files of a restore's transfer, removed as the hub reports each one done.
    StagedFileRemover* remover_ = nullptr;
    // The staged files the hub reported done, not yet handed to the remover.
    std::vector<std::string> copiedFiles_;
    // The staging of a restore's files while its transfer runs, and the files the hub has done.
    OrderedStaging* staging_ = nullptr;
    size_t copiedItems_ = 0;
    // The device files the running backup left out.
    std::vector<std::string> leftOut_;
    // The running transfer's byte counts as the sink takes them.
    ProgressScale scale_;
    // The staging folders made (or found) by the running backup or restore.
    std::unordered_set<std::string> stagedFolders_;
};

} // namespace tv::backup
