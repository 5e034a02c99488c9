#include "LoggerObject.h"
#include "HResult.h"
#include <string>

namespace tv::logger {
namespace {

std::string ToAnsiLine(BSTR text) {
    std::wstring line(text ? text : L"", text ? SysStringLen(text) : 0);
    line += L'\n';
    const int size = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string ansi(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), ansi.data(), size, nullptr,
                            nullptr);
    return ansi;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

HRESULT LoggerSlot::GetOrCreate(REFIID riid, void** ppv) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (logger_)
        return logger_->QueryInterface(riid, ppv);
    com::ComPtr<ZvLogger> fresh;
    TV_RETURN_IF_FAILED(com::MakeComObject(fresh, *this, LogFile(SharedLogPath(), kLogMutexName)));
    TV_RETURN_IF_FAILED(fresh->OpenLog());
    logger_ = fresh.Get();
    return fresh->QueryInterface(riid, ppv);
}

LoggerSlot& ProcessLoggerSlot() {
    static LoggerSlot slot;
    return slot;
}

ZvLogger::ZvLogger(LoggerSlot& slot, LogFile file) : slot_(slot), file_(std::move(file)) {}

void* ZvLogger::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<IZvLoggerDisp*>(this);
    return nullptr;
}

ULONG ZvLogger::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG ZvLogger::Release() {
    long left;
    {
        std::lock_guard<std::recursive_mutex> guard(slot_.mutex_);
        left = --references_;
        if (left == 0 && slot_.logger_ == this)
            slot_.logger_ = nullptr;
    }
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
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

HRESULT ZvLogger::DispatchTypeInfo(ITypeInfo** info) {
    if (!typeInfo_) {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(ThisModule(), path, ARRAYSIZE(path));
        if (length == 0 || length >= ARRAYSIZE(path))
            return com::LastErrorHResult();
        com::ComPtr<ITypeLib> library;
        TV_RETURN_IF_FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library));
        TV_RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IZvLoggerDisp, &typeInfo_));
    }
    return typeInfo_.CopyTo(info);
}

HRESULT ZvLogger::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ZvLogger::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    return DispatchTypeInfo(info);
}

HRESULT ZvLogger::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    com::ComPtr<ITypeInfo> info;
    TV_RETURN_IF_FAILED(DispatchTypeInfo(&info));
    return DispGetIDsOfNames(info.Get(), names, count, ids);
}

HRESULT ZvLogger::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    com::ComPtr<ITypeInfo> info;
    TV_RETURN_IF_FAILED(DispatchTypeInfo(&info));
    return DispInvoke(static_cast<IZvLoggerDisp*>(this), info.Get(), id, flags, params, result, exception,
                      argError);
}

} // namespace tv::logger
