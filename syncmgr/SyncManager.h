// The synchronization manager ("ZvSyncMgr"): one object per process, made by the desktop
// program at start-up. It finds every synchronizer of the category "ZvSynchronizers", keeps
// their schedules and each device's conflict resolution and automatic-synchronization flag,
// hands out filtered lists of synchronizers, runs a session for a device on a thread of its own
// and each phase of a synchronizer on a step thread.
//
// The object is reached directly from more than one thread (the program's main thread, the
// hub's property-sheet thread, a script's thread), so its table, schedules and thread slots are
// taken under one lock; the synchronizers themselves are kept marshalled and unmarshalled anew
// by every thread that uses them.
#pragma once
#include "ComObject.h"
#include <comcat.h>
#include "Handles.h"
#include "MarshalledInterface.h"
#include "TypeInfoDispatch.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"
#include <memory>
#include <string>
#include <vector>

namespace tv::sync {

// The category every synchronizer registers in.
inline constexpr CATID CATID_ZvSynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

// Creates the hub as the components inside the program do: with the in-process contexts. The
// program registers the hub's class object for the local server only, which those contexts do
// not reach here; so while the program's instance mutex shows that it runs, the local server
// context is added - it reaches the running program and never starts one.
HRESULT CreateHubInProgram(IZelvanMgr** hub);
// Synchronizers are in-process classes.
inline constexpr DWORD kSynchronizerContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

class SyncManager : public com::ComObject<SyncManager, IZvSyncMgr, IZvSyncMgrDisp, ISpecifyPropertyPages> {
  public:
    SyncManager();
    ~SyncManager() override;

    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    // Waits at most `timeoutMs` (dispatching messages) for the running step thread to end; false
    // when it did not end, or no step was ever started. The session dialog calls it on the
    // manager of the process.
    static bool WaitForStepThread(DWORD timeoutMs);

    // IZvSyncMgr
    STDMETHODIMP EnumComponents(LONG nStrCnt, LONG nMaxLen, LPSTR* aDevices, LONG included_only,
                                IZvEnumSyncComponents** ppEnum) override;
    STDMETHODIMP EnumComponents2(LONG nElems, const GUID* aItemTypes,
                                 IZvEnumSyncComponents** ppEnum) override;
    STDMETHODIMP EnumComponents3(IZvEnumSyncComponents** ppEnum) override;
    STDMETHODIMP Synchronize(LPSTR szDeviceID) override;
    STDMETHODIMP SyncStep(IZvSynchronizer* pSync, ZVSYNCPHASE phase) override;
    STDMETHODIMP IsComponentScheduled(const GUID* comp, LPSTR szDeviceID) override;
    STDMETHODIMP ScheduleComponent(const GUID* comp, LPSTR szDeviceID) override;
    STDMETHODIMP UnscheduleComponent(const GUID* comp, LPSTR szDeviceID) override;
    STDMETHODIMP get_ConflictResolution(LPSTR szDeviceID, ZVSYNCRESOLUTION* pVal) override;
    STDMETHODIMP put_ConflictResolution(LPSTR szDeviceID, ZVSYNCRESOLUTION newVal) override;
    STDMETHODIMP get_SyncTime(LPSTR szDeviceID, LONG* pVal) override;
    STDMETHODIMP put_SyncTime(LPSTR szDeviceID, LONG newVal) override;

    // IZvSyncMgrDisp
    TV_DUAL_DISPATCH(IZvSyncMgrDisp, dispatch_)
    STDMETHODIMP StartSync(BSTR bsDeviceID, VARIANT_BOOL bAutoStart) override;
    STDMETHODIMP DoSync(BSTR bsDeviceID, VARIANT_BOOL bAutoStart) override;
    STDMETHODIMP get_SyncTime(BSTR bsDeviceID, VARIANT_BOOL* pVal) override;
    STDMETHODIMP put_SyncTime(BSTR bsDeviceID, VARIANT_BOOL newVal) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

  private:
    struct Record {
        CLSID clsid;
        std::unique_ptr<MarshalledInterface> synchronizer;
        std::vector<std::string> schedule;
    };
    // One registry value of the device's key under "DeviceList".
    HRESULT ReadDeviceValue(LPSTR deviceId, const char* value, DWORD fallback, DWORD& out) const;
    HRESULT WriteDeviceValue(LPSTR deviceId, const char* value, DWORD data) const;
    // Schedule operations share their checks; the record index under the lock.
    HRESULT FindRecord(const GUID* comp, LPSTR deviceId, size_t& index) const;
    // Reads every record's schedule from the store again (under the lock), so that a change made
    // meanwhile by another dialog or by hand is kept when the store is written.
    void ReloadSchedules();
    HRESULT WriteSchedules() const;
    HRESULT ChangeSchedule(const GUID* comp, LPSTR deviceId, bool schedule);
    // Every synchronizer of the table, unmarshalled for the calling thread, in table order.
    HRESULT TableSynchronizers(std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>>& out) const;
    HRESULT MakeEnumerator(std::vector<std::pair<com::ComPtr<IZvSynchronizer>, CLSID>> items,
                           IZvEnumSyncComponents** ppEnum) const;
    // Asks the hub for the device's name and starts the session thread; `thread` is its handle.
    HRESULT StartSessionThread(BSTR deviceId, bool autoStart, HANDLE& thread);
    // A handle of the running session thread (null when none), for DoSync's wait.
    com::UniqueHandle DuplicateSessionThread() const;

    mutable com::CriticalSection lock_;
    com::TypeInfoDispatch dispatch_{__uuidof(IZvSyncMgrDisp)};
    MarshalledInterface hub_;
    std::vector<Record> table_;
    com::UniqueHandle sessionThread_;
    bool startingSession_ = false;
    com::UniqueHandle stepThread_;
};

} // namespace tv::sync
