// What both mail synchronizer classes share of the synchronizer contract: the hub made at
// construction, the device, the sinks and the calls without effect.
#pragma once
#include "ComObject.h"
#include "MailSyncSupport.h"

namespace tv::mail {

template <class Self, class... Extra>
class MailSynchronizer : public com::ComObject<Self, IZvSynchronizer, IZvSyncNotify, Extra...> {
  public:
    HRESULT FinalConstruct() { return CreateHub(hub_); }

    STDMETHODIMP SetDevice(LPSTR szDeviceID) override { return StoreDeviceId(szDeviceID, deviceId_); }
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION) override { return S_OK; }
    STDMETHODIMP SetParentWindow(ULONG_PTR window) override {
        parent_ = window;
        return S_OK;
    }
    STDMETHODIMP Cancel() override { return S_OK; }
    STDMETHODIMP GetTotalItems(LONG* nItems) override { return Zero(nItems); }
    STDMETHODIMP GetSynchronizedItems(LONG* nItems) override { return Zero(nItems); }
    STDMETHODIMP GetUnresolvedItems(LONG* nItems) override { return Zero(nItems); }
    STDMETHODIMP IsTunable() override { return S_FALSE; }
    STDMETHODIMP Tune(LPSTR) override { return S_OK; }

    STDMETHODIMP Advise(IZvSyncCallback* sink, LONG* cookie) override { return reports_.Advise(sink, cookie); }
    STDMETHODIMP Unadvise(LONG cookie) override { return reports_.Unadvise(cookie); }

  protected:
    // Runs one phase (the class's Initialize, Transfer and Finalize; estimate and resolve complete
    // at once) and makes its closing report. The step's result; E_INVALIDARG for another phase.
    HRESULT RunPhase(ZVSYNCPHASE phase) {
        IZvSynchronizer* source = this;
        Self& self = static_cast<Self&>(*this);
        reports_.BeginStep();
        HRESULT hr = S_OK;
        switch (phase) {
        case SPH_INITIALIZE:
            hr = self.Initialize();
            break;
        case SPH_SYNCHRONIZE_ESTIMATE:
        case SPH_SYNCHRONIZE_RESOLVE:
            reports_.Custom(source, phase, SST_COMPLETE, "", 1, 1);
            break;
        case SPH_SYNCHRONIZE_TRANSFER:
            hr = self.Transfer();
            break;
        case SPH_FINALIZE:
            hr = self.Finalize();
            break;
        default:
            return E_INVALIDARG;
        }
        reports_.EndStep(source, phase, hr);
        return hr;
    }

    static HRESULT Zero(LONG* out) {
        if (!out)
            return E_POINTER;
        *out = 0;
        return S_OK;
    }
    // The device user id: the last seven characters of the device id.
    std::string UserId() const { return LastChars(deviceId_, 7); }

    com::ComPtr<IZelvanMgr> hub_;
    std::string deviceId_;
    ULONG_PTR parent_ = 0;
    SyncReports reports_;
};

} // namespace tv::mail
