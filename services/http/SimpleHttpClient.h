// ZvSimpleHTTP: whole-file download and upload over HTTP for scripts, and the system's
// online state and dial-up control. One WinINet session per object, opened at creation.
#pragma once
#include "ComObject.h"
#include "HttpTransfer.h"
#include "TypeInfoDispatch.h"
#include "ZvSimpleHTTP.h"
#include <string>

namespace tv::http {

class ZvSimpleHTTP final : public com::ComObject<ZvSimpleHTTP, IZvSimpleHTTP, ISupportErrorInfo> {
  public:
    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    // IDispatch, described by the type library embedded in this module.
    TV_DUAL_DISPATCH(IZvSimpleHTTP, dispatch_)

    // IZvSimpleHTTP
    STDMETHODIMP get_IsOnline(VARIANT_BOOL* bRes) override;
    STDMETHODIMP get_IsDialup(VARIANT_BOOL* bRes) override;
    STDMETHODIMP get_AutoDialup(VARIANT_BOOL* bRes) override;
    STDMETHODIMP put_AutoDialup(VARIANT_BOOL bRes) override;
    STDMETHODIMP GoOnline(BSTR bsURL, VARIANT_BOOL* bRes) override;
    STDMETHODIMP Dial(VARIANT_BOOL* bRes) override;
    STDMETHODIMP Hangup(VARIANT_BOOL* bRes) override;
    STDMETHODIMP ImportFile(BSTR bsURL, BSTR bsFile, VARIANT_BOOL bZvRequest) override;
    STDMETHODIMP ExportFile(BSTR bsFile, BSTR bsURL, VARIANT_BOOL bZvRequest) override;
    STDMETHODIMP ImportString(BSTR bsURL, VARIANT_BOOL bZvRequest, BSTR* bsStr) override;
    STDMETHODIMP ExportString(BSTR bsStr, BSTR bsURL, VARIANT_BOOL bZvRequest) override;
    STDMETHODIMP get_BrowserType(BSTR* bsType) override;
    STDMETHODIMP put_BrowserType(BSTR bsType) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  private:
    // Offline without auto-dial: transfers are refused at once.
    bool MayTransfer() const;
    HRESULT UploadError(const char* text);

    com::TypeInfoDispatch dispatch_{IID_IZvSimpleHTTP};
    UniqueInternet session_;
    bool autoDial_ = false;
    std::wstring agent_;
};

} // namespace tv::http
