#include "FileOpListener.h"

#include "MessagePump.h"

namespace tv::filesync {

HRESULT FileOpListener::FinalConstruct() {
    done_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return done_ ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

STDMETHODIMP FileOpListener::OnItemComplete(LPSTR, LPSTR strErrorDescription, LONG nErrorCode) {
    error_ = strErrorDescription ? strErrorDescription : "";
    // A copy that failed without a description is a failure all the same.
    failed_ = !error_.empty() || FAILED(static_cast<HRESULT>(nErrorCode));
    SetEvent(done_.Get());
    return S_OK;
}

STDMETHODIMP FileOpListener::OnItemProgress(LPSTR, LONG nProgress) {
    if (progress_ && nProgress >= 0)
        progress_(static_cast<uint64_t>(nProgress));
    return S_OK;
}

bool FileOpListener::WaitForComplete(DWORD timeoutMs) {
    if (!tv::WaitWithMessagePump(done_.Get(), timeoutMs))
        return false;
    return !failed_;
}

} // namespace tv::filesync
