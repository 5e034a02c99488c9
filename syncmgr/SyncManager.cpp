#include "SyncManager.h"
#include "AnsiText.h"
#include "Handles.h"
#include <string>

namespace tv::sync {

HRESULT SyncManager::StartSync(BSTR bsDeviceID, VARIANT_BOOL) {
    return bsDeviceID ? S_OK : E_INVALIDARG;
}

STDMETHODIMP SyncManager::Synchronize(LPSTR szDeviceID) {
    if (!szDeviceID)
        return E_POINTER;
    com::UniqueBstr id = com::AnsiToUniqueBstr(szDeviceID);
    if (!id)
        return E_OUTOFMEMORY;
    return StartSync(id.Get(), VARIANT_FALSE);
}

STDMETHODIMP SyncManager::EnumComponents(LONG, LONG, LPSTR*, LONG, IZvEnumSyncComponents** ppEnum) {
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP SyncManager::EnumComponents2(LONG, const GUID*, IZvEnumSyncComponents** ppEnum) {
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP SyncManager::EnumComponents3(IZvEnumSyncComponents** ppEnum) {
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP SyncManager::SyncStep(IZvSynchronizer*, ZVSYNCPHASE) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::IsComponentScheduled(const GUID*, LPSTR) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::ScheduleComponent(const GUID*, LPSTR) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::UnscheduleComponent(const GUID*, LPSTR) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::get_ConflictResolution(LPSTR, ZVSYNCRESOLUTION*) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::put_ConflictResolution(LPSTR, ZVSYNCRESOLUTION) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::get_SyncTime(LPSTR, LONG*) { return E_NOTIMPL; }
STDMETHODIMP SyncManager::put_SyncTime(LPSTR, LONG) { return E_NOTIMPL; }

} // namespace tv::sync
