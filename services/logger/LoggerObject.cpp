#include "LoggerObject.h"
#include "AnsiText.h"
#include <string>

namespace tv::logger {
namespace {

std::string ToAnsiLine(BSTR text) {
    return com::ToAnsi(text) + '\n';
}

} // namespace

ZvLogger::ZvLogger(com::SharedInstance<ZvLogger>& slot)
    : SharedComObject(slot), file_(SharedLogPath(), kLogMutexName) {}

void* ZvLogger::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<IZvLoggerDisp*>(this);
    return nullptr;
}

HRESULT ZvLogger::SetDefLevel(long nLevel) {
    defaultLevel_ = nLevel;
    return S_OK;
}

HRESULT ZvLogger::SetLogLevel(long nLevel) {
    logLevel_ = nLevel;
    return S_OK;
}

HRESULT ZvLogger::Write(LPSTR strItem) {
    return static_cast<IZvLogger*>(this)->WriteEx(strItem, defaultLevel_);
}

HRESULT ZvLogger::WriteEx(LPSTR strItem, long nLevel) {
    if (!strItem)
        return E_POINTER;
    if (nLevel < logLevel_)
        return S_OK;
    return file_.Append(strItem);
}

HRESULT ZvLogger::Write(BSTR bsStr) {
    std::string line = ToAnsiLine(bsStr);
    static_cast<IZvLogger*>(this)->Write(line.data());
    return S_OK;
}

HRESULT ZvLogger::WriteEx(BSTR bsStr, long nLevel) {
    std::string line = ToAnsiLine(bsStr);
    static_cast<IZvLogger*>(this)->WriteEx(line.data(), nLevel);
    return S_OK;
}

} // namespace tv::logger
