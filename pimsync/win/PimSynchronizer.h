// The contacts and tasks synchronizers of 1.0 devices: one engine, two kinds. A session copies the
// device's file (phone book or task list) into a temporary file, merges its records with the
// default folder of the desktop mail application, and copies the merged file back.
#pragma once
#include "ComObject.h"
#include "DesktopMailApp.h"
#include "RecordMerge.h"
#include "SyncSinks.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tv::pimsync {

// What tells the two synchronizers apart, fixed per class.
struct SyncKind {
    const CLSID* clsid;
    const char* fileName;
    UINT friendlyName;
    long folderNumber;
    long newItemType;
    GUID itemTypes[2];
    UINT itemTypeNames[2];
    UINT conflictDialog;
    const ItemKind* items;
    std::unique_ptr<::pimsync::ZvSyncRecordList> (*newList)();
};
extern const SyncKind kContactsKind;
extern const SyncKind kTasksKind;

class PimSynchronizer : public com::ComObject<PimSynchronizer, IZvSynchronizer, IZvSyncNotify>,
                        private ::pimsync::MergeObserver {
  public:
    explicit PimSynchronizer(const SyncKind& kind) : kind_(kind) {}
    ~PimSynchronizer() { Reset(); }
    HRESULT FinalConstruct();

    // IZvSynchronizer
    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* szUserFriendlyName) override;
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override;
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override;
    STDMETHODIMP SetDevice(LPSTR szDeviceID) override;
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION newVal) override;
    STDMETHODIMP SetParentWindow(ULONG_PTR hWin) override;
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override;
    STDMETHODIMP Cancel() override;
    STDMETHODIMP GetTotalItems(LONG* nItems) override { return Counter(counters_.total, nItems); }
    STDMETHODIMP GetSynchronizedItems(LONG* nItems) override { return Counter(counters_.synchronized, nItems); }
    STDMETHODIMP GetUnresolvedItems(LONG* nItems) override { return Counter(counters_.unresolved, nItems); }
    STDMETHODIMP IsTunable() override { return S_OK; }
    STDMETHODIMP Tune(LPSTR szDeviceID) override;

    // IZvSyncNotify: cookies count up from 1.
    STDMETHODIMP Advise(IZvSyncCallback* piCallback, LONG* pnCookie) override;
    STDMETHODIMP Unadvise(LONG nCookie) override;

  private:
    HRESULT Initialize();
    HRESULT RunMergePhase(ZVSYNCPHASE phase);
    HRESULT Finalize();
    void Reset();

    // Copies one file through the hub. A copy not done in time is cancelled and awaited; `ended`
    // is false when even that wait gave up, the copy possibly still running.
    HRESULT CopyThroughHub(const std::string& from, const std::string& to, bool& copied, bool& ended);
    // Deletes the kept temporary files of this session's device file.
    void DeleteKeptFiles();
    // The device folder chosen in the options (the device's default medium when none is).
    std::string StoredDeviceFolder() const;

    void Update(ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done, ULONG total);
    HRESULT Error(ZVSYNCPHASE phase, const std::string& text, HRESULT result = E_FAIL);
    // Reports the failure of a call on the application and returns E_FAIL.
    HRESULT FailFromCom(ZVSYNCPHASE phase, HRESULT hr);
    static HRESULT Counter(long value, LONG* out);

    // MergeObserver
    void Progress(long done, long total) override;
    bool Cancelled() override { return cancelled_; }
    int ChooseVersion(const ::pimsync::ZvSyncRecord& device, const ::pimsync::ZvSyncRecord& pc) override;

    const SyncKind& kind_;
    com::ComPtr<IZelvanMgr> hub_;
    std::string deviceId_;
    SyncSinks sinks_;
    bool errorReported_ = false;
    bool completionReported_ = false;
    ZVSYNCPHASE phase_ = SPH_INITIALIZE;

    com::ComPtr<IUnknown> items_;
    std::unique_ptr<::pimsync::ZvSyncRecordList> list_;
    std::string deviceFolder_, deviceFile_, tempFile_;
    // The temporary file stays at the next reset: a copy to the device did not end well, or a
    // copy could not be awaited.
    bool keepTempFile_ = false;
    // Temporary files kept by earlier sessions, deleted once a session of their device file
    // succeeds; those left when the object goes stay on the disk.
    struct KeptFile {
        std::string deviceFile, tempFile;
    };
    std::vector<KeptFile> keptFiles_;
    ::pimsync::MergeCounters counters_;
    int resolution_ = ::pimsync::kAskUser;
    HWND parent_ = nullptr;
    HWND conflictDialog_ = nullptr;
    bool cancelled_ = false;
};

} // namespace tv::pimsync
