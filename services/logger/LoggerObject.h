// The logger object: one per process while anyone holds it, writing to the shared log file.
#pragma once
#include "ComObject.h"
#include "LogFile.h"
#include "ZvLogger.h"
#include <atomic>
#include <mutex>

namespace tv::logger {

class ZvLogger;

// Where the class object keeps the process's logger. It holds no reference: the logger's last
// release empties it, so the next creation opens the log again and writes a new header.
class LoggerSlot {
  public:
    // Hands out the living logger, or makes and opens a new one. A failed open is returned
    // and not kept, so that a later creation tries again.
    HRESULT GetOrCreate(REFIID riid, void** ppv);

  private:
    friend class ZvLogger;
    std::recursive_mutex mutex_;
    ZvLogger* logger_ = nullptr;
};

// The slot of this process.
LoggerSlot& ProcessLoggerSlot();

class ZvLogger : public com::ComObject<ZvLogger, IZvLogger, IZvLoggerDisp> {
  public:
    ZvLogger(LoggerSlot& slot, LogFile file);

    HRESULT OpenLog() { return file_.Open(); }
    void* QueryOtherInterface(REFIID riid);

    // Counted under the slot's lock, so that a creation never picks up a logger whose last
    // reference is just going away.
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IZvLogger, and the level setters IZvLoggerDisp shares with it.
    STDMETHODIMP SetDefLevel(long nLevel) override;
    STDMETHODIMP SetLogLevel(long nLevel) override;
    STDMETHODIMP Write(LPSTR strItem) override;
    STDMETHODIMP WriteEx(LPSTR strItem, long nLevel) override;

    // IZvLoggerDisp: the texts get a line feed; a failed write does not fail a script.
    STDMETHODIMP Write(BSTR bsStr) override;
    STDMETHODIMP WriteEx(BSTR bsStr, long nLevel) override;

    // IDispatch, described by the type library embedded in this module.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

  private:
    HRESULT DispatchTypeInfo(ITypeInfo** info);

    LoggerSlot& slot_;
    LogFile file_;
    std::atomic<long> references_{1};
    long logLevel_ = 0;
    long defaultLevel_ = 0;
    com::ComPtr<ITypeInfo> typeInfo_;
};

} // namespace tv::logger
