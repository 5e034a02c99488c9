// ZvUpdate15: the script's face of the operating-system image loader. The calling thread starts,
// waits for, checks and cancels a load; the load itself runs on a worker thread with its own
// loader window (OsImageLoader). The object never ends before its worker: its release waits for
// it, and a new load is refused while one is alive.
#pragma once

#include "ComObject.h"
#include "Handles.h"
#include "OsImageLoader.h"
#include "TypeInfoDispatch.h"
#include "ZvUpdate15.h"

#include <utility>
#include <vector>

namespace tv::update {

class ZvUpdate15Object final : public com::ComObject<ZvUpdate15Object, IZvUpdate152, ISupportErrorInfo> {
  public:
    ZvUpdate15Object() = default;
    ~ZvUpdate15Object() override;
    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    TV_DUAL_DISPATCH(IZvUpdate152, dispatch_)

    // IZvUpdate15
    STDMETHODIMP Advise(IZvUpdate15Callback* piCallback, long* pdwCookie) override;
    STDMETHODIMP Unadvise(long dwCookie) override;
    STDMETHODIMP LoadZvOS(BSTR bsZvOSFileName, long isAsyncRun, long nTimeOut, long* pExitCode) override;
    STDMETHODIMP WaitForReboot(long nTimeOut, long* pExitCode) override;
    STDMETHODIMP WaitForLoadZvOS(long nTimeOut, long* pExitCode) override;
    STDMETHODIMP SendFile(BSTR bsFileName) override;
    STDMETHODIMP Cancel(long isAsyncRun, long nTimeOut) override;
    STDMETHODIMP get_USBDeviceID(long* pVal) override;
    STDMETHODIMP put_USBDeviceID(long newVal) override;
    STDMETHODIMP get_Timeout(long* pVal) override;
    STDMETHODIMP put_Timeout(long newVal) override;
    STDMETHODIMP get_ZvID(BSTR* pVal) override;
    STDMETHODIMP put_ZvID(BSTR newVal) override;
    STDMETHODIMP get_ShowUpdateWindow(long* pVal) override;
    STDMETHODIMP put_ShowUpdateWindow(long newVal) override;
    // IZvUpdate152
    STDMETHODIMP CheckForReboot(long nTimeOut, long* pExitCode) override;
    STDMETHODIMP CheckForLoadZvOS(long nTimeOut, long* pExitCode) override;
    STDMETHODIMP GetStatusCode(long* pStatusCode) override;
    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  private:
    // A load runs while its worker thread is alive.
    bool WorkerAlive() const;
    // Forgets an ended worker; false (and nothing changed) while it still runs.
    bool ForgetEndedWorker();
    HRESULT WaitForWorker(long nTimeOut, bool cancelOnTimeOut, long* pExitCode);

    com::TypeInfoDispatch dispatch_{IID_IZvUpdate152};
    std::vector<std::pair<DWORD, com::ComPtr<IZvUpdate15Callback>>> callbacks_;
    DWORD nextCookie_ = 0;
    com::UniqueHandle startEvent_;
    com::UniqueHandle deviceEvent_;
    com::UniqueHandle worker_;
    LoaderShared shared_;
    long usbDeviceId_ = 0;
    long timeout_ = 0;
    std::wstring zvId_;
    std::wstring imageFile_;
};

// The class of the callback scripts may hand to Advise: both methods do nothing.
class ZvUpdate15CallbackObject final
    : public com::ComObject<ZvUpdate15CallbackObject, IZvUpdate15Callback, ISupportErrorInfo> {
  public:
    TV_DUAL_DISPATCH(IZvUpdate15Callback, dispatch_)
    void* QueryOtherInterface(REFIID riid);
    STDMETHODIMP OnUpdate(tagZvUpdate15Status, long, BSTR) override { return S_OK; }
    STDMETHODIMP OnError(long, BSTR) override { return S_OK; }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID_IZvUpdate15Callback) ? S_OK : S_FALSE;
    }

  private:
    com::TypeInfoDispatch dispatch_{IID_IZvUpdate15Callback};
};

} // namespace tv::update
