// ZvPortCOM: the COM face of one serial port engine. Requests arrive as tagged texts, progress
// leaves as "<UPDATEMSG>" texts to the advised sinks.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ZvPort.h"
#include "ZvSerialPort.h"
#include <string>
#include <vector>

namespace devlink10 {

extern const CLSID kClsidZvPortCOM;

class ZvPortCOM : public tv::com::ComObject<ZvPortCOM, IZvPort> {
public:
    ZvPortCOM() = default;
    ~ZvPortCOM() override;

    STDMETHODIMP RequestSync(BSTR strCommand, BSTR* pstrResponce) override;
    STDMETHODIMP RequestAsync(BSTR strCommand, BSTR* pstrResponse) override;
    STDMETHODIMP Advise(IUnknown* piUpdateEvent, long* pdwCookie) override;
    STDMETHODIMP UnAdvise(long dwCookie) override;
    STDMETHODIMP Connect(BSTR strInput, BSTR* pstrOutput) override;
    STDMETHODIMP Disconnect(BSTR* pstrOutput) override;
    STDMETHODIMP GetInfo(BSTR* pstrOutput) override;
    STDMETHODIMP SetParam(BSTR pstrInput) override;
    STDMETHODIMP Cancel(BSTR strInput, BSTR* pstrOutput) override;

    // Sends a request's progress to every advised sink (on the engine's dispatcher thread).
    void NotifySinks(const zvport::PortRequestData& request);

private:
    RequestPtr MakeRequest(zvport::RequestKind kind);
    HRESULT RunSync(const RequestPtr& request);

    ZvSerialPort engine_;
    // A released sink leaves an empty slot, so the other sinks keep their cookies.
    std::vector<tv::com::ComPtr<IZvPortUpdateEvent>> sinks_;
    std::string lastAsyncResponse_;
    long timeoutMs_ = 0;
    // Set by Cancel (from any thread) and cleared when a connection attempt begins: it ends the
    // attempt between its requests, where no request runs that Cancel could stop.
    tv::com::UniqueHandle connectCancel_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

} // namespace devlink10
