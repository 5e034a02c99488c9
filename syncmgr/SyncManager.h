// The synchronization manager: starts a synchronization session for a device.
#pragma once
#include "ComObject.h"
#include "ZvSyncMgr.h"

namespace tv::sync {

class SyncManager : public com::ComObject<SyncManager, IZvSyncMgr> {
public:
    // Starts a session for the device and returns at once. No synchronizer is installed yet,
    // so a session has nothing to run.
    HRESULT StartSync(BSTR bsDeviceID, VARIANT_BOOL bAutoStart);

    // IZvSyncMgr
    STDMETHODIMP EnumComponents(LONG nStrCnt, LONG nMaxLen, LPSTR* aDevices, LONG included_only,
                                IZvEnumSyncComponents** ppEnum) override;
    STDMETHODIMP EnumComponents2(LONG nElems, const GUID* aItemTypes, IZvEnumSyncComponents** ppEnum) override;
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
};

} // namespace tv::sync
