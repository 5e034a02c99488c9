// The file synchronizer of one device generation: the contract the synchronization manager
// drives phase by phase, the advise list of progress sinks, and the five session phases over an
// engine of its generation.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "HubSyncEngine.h"
#include "SyncSinks.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tv::filesync {

// Language-library text by id (empty when missing).
std::string LangText(UINT id);

class FileSynchronizer
    : public tv::com::ComObject<FileSynchronizer, IZvSynchronizer, IZvSyncNotify, IZvSynchronizerGUI> {
public:
    explicit FileSynchronizer(::filesync::Generation generation) : generation_(generation) {}
    HRESULT FinalConstruct();

    // The 1.0 class has no icon face.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

    // IZvSynchronizer
    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* szUserFriendlyName) override;
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override;
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override;
    STDMETHODIMP SetDevice(LPSTR szDeviceID) override;
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION newVal) override;
    STDMETHODIMP SetParentWindow(ULONG_PTR hWin) override;
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override;
    STDMETHODIMP Cancel() override;
    STDMETHODIMP GetTotalItems(LONG* nItems) override;
    STDMETHODIMP GetSynchronizedItems(LONG* nItems) override;
    STDMETHODIMP GetUnresolvedItems(LONG* nItems) override;
    STDMETHODIMP IsTunable() override { return S_OK; }
    STDMETHODIMP Tune(LPSTR szDeviceID) override;

    // IZvSyncNotify: cookies count up from 1 and are never pointer values.
    STDMETHODIMP Advise(IZvSyncCallback* piCallback, LONG* pnCookie) override;
    STDMETHODIMP Unadvise(LONG nCookie) override;

    // IZvSynchronizerGUI (1.5 only)
    STDMETHODIMP GetIcon(int* nResourceID) override;

private:
    HRESULT DoInitialize();
    HRESULT DoEstimate();
    HRESULT DoTransfer();
    HRESULT DoResolve();
    HRESULT DoFinalize();

    // One copy of `item` in `phase`, up to the recorded state: S_OK when done, S_FALSE when the
    // item was skipped (the device lacks its folder, or the file is too large), else the phase's
    // failure (already reported).
    HRESULT CopyItem(ZVSYNCPHASE phase, ::filesync::SyncItem item, uint64_t total, uint64_t done);
    void ShowItemMessage(UINT id, const std::string& name);
    // Whether Cancel came, a Cancel waiting to be served included.
    bool Stopped();

    void FireUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, uint64_t done, uint64_t total);
    // An update with a status text of the synchronizer's own.
    void FireCustomUpdate(ZVSYNCPHASE phase, ZVSYNCSTATUS status, const std::string& text);
    // The session's last word when device files were left out for their names.
    std::string LeftOutText() const;
    HRESULT FireError(ZVSYNCPHASE phase, const std::string& text, HRESULT result = E_FAIL);

    ::filesync::Generation generation_;
    SyncSinks sinks_;
    bool errorReported_ = false;
    bool completeReported_ = false;
    tv::com::ComPtr<IZelvanMgr> hub_;
    HWND conflictWindow_ = nullptr;
    HWND parent_ = nullptr;
    bool cancelled_ = false;
    // Never set: what Stopped waits on while it serves the calls that wait.
    tv::com::UniqueHandle pumpEvent_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::unique_ptr<HubSyncEngine> engine_;
    std::string deviceId_;
    ZVSYNCRESOLUTION resolution_ = SSR_MANUAL_RESOLUTION;
    LONG totalItems_ = 0;
    // Device files of this session left out because no PC file may have their names.
    size_t leftOut_ = 0;
};

} // namespace tv::filesync
