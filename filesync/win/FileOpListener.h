// The listeners that follow one copy through the hub: the completion event set by
// OnItemComplete with the item's error kept, the byte progress of the transfer phase, and the
// message-dispatching wait for the end of the copy.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ZvDevice.h"

#include <functional>
#include <string>

namespace tv::filesync {

class FileOpListener : public tv::com::ComObject<FileOpListener, IZvFileOperationCallback> {
public:
    // Called with the bytes of the current item copied so far.
    using Progress = std::function<void(uint64_t)>;

    HRESULT FinalConstruct();
    void SetProgress(Progress progress) { progress_ = std::move(progress); }

    // Waits at most `timeoutMs` for the copy's end while dispatching messages; true only when the
    // copy ended without an error.
    bool WaitForComplete(DWORD timeoutMs);
    const std::string& Error() const { return error_; }

    STDMETHODIMP OnOperationComplete() override { return S_OK; }
    STDMETHODIMP OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG nErrorCode) override;
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR strItem, LONG nProgress) override;
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }

private:
    tv::com::UniqueHandle done_;
    std::string error_;
    bool failed_ = false;
    Progress progress_;
};

// The resolve phase's listener is the same object without byte progress.
using ResolveOpListener = FileOpListener;

} // namespace tv::filesync
