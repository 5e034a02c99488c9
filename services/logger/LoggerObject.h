// The logger object: one per process while anyone holds it, writing to the shared log file.
#pragma once
#include "LogFile.h"
#include "SharedInstance.h"
#include "TypeInfoDispatch.h"
#include "ZvLogger.h"

namespace tv::logger {

// Kept in a slot that holds no reference: the logger's last release empties it, so the next
// creation opens the log again and writes a new header. A failed open is returned and not kept,
// so that a later creation tries again.
class ZvLogger : public com::SharedComObject<ZvLogger, IZvLogger, IZvLoggerDisp> {
  public:
    explicit ZvLogger(com::SharedInstance<ZvLogger>& slot);

    HRESULT FinalConstruct() { return file_.Open(); }
    void* QueryOtherInterface(REFIID riid);

    // IZvLogger, and the level setters IZvLoggerDisp shares with it.
    STDMETHODIMP SetDefLevel(long nLevel) override;
    STDMETHODIMP SetLogLevel(long nLevel) override;
    STDMETHODIMP Write(LPSTR strItem) override;
    STDMETHODIMP WriteEx(LPSTR strItem, long nLevel) override;

    // IZvLoggerDisp: the texts get a line feed; a failed write does not fail a script.
    STDMETHODIMP Write(BSTR bsStr) override;
    STDMETHODIMP WriteEx(BSTR bsStr, long nLevel) override;

    // IDispatch, described by the type library embedded in this module.
    TV_DUAL_DISPATCH(IZvLoggerDisp, dispatch_)

  private:
    LogFile file_;
    long logLevel_ = 0;
    long defaultLevel_ = 0;
    com::TypeInfoDispatch dispatch_{IID_IZvLoggerDisp};
};

} // namespace tv::logger
