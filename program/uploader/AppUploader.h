// The application uploader: a PC file that no file association takes is copied, through the
// hub, into a device folder the user chooses, while a small window shows the copy's progress
// and the device stays in PC mode.
#pragma once
#include "ComObject.h"
#include "ComPtr.h"
#include "HubCopyWindow.h"
#include "ZelvanMgr.h"
#include <windows.h>
#include <functional>
#include <string>

namespace tv::uploader {

// The longest PC path the uploader takes (its request holds 260 characters with the terminator).
inline constexpr size_t kMaxUploadPath = 259;

// What the uploader thread is started with; allocated by the starter, owned by the thread.
struct UploadRequest {
    std::string pcPath;
    UINT captionId = 0; // string id of the progress window's caption
    HMODULE language = nullptr;
    // String ids of the folder question's title and text; 0 takes the uploader's own.
    UINT browseTitleId = 0;
    UINT browseTextId = 0;
    // Asked with the hub and the device name before anything is copied; false copies nothing.
    std::function<bool(IZelvanMgr* hub, const std::string& deviceName)> approve;
    // Called with the progress window once it exists, before it is shown.
    std::function<void(HWND window)> decorate;
};

// The copy's progress callback and, at the same time, its progress window (dialog 12016).
// Lives on the uploader thread; the hub's worker reaches it through COM.
class ZvAppUploader : public com::ComObject<ZvAppUploader, IZvFileOperationCallback>, private HubCopyWindow {
  public:
    ZvAppUploader(IZelvanMgr* hub, std::string deviceName, std::string pcPath, UINT captionId,
                  HMODULE language);

    // Creates the modeless progress window (not owned); null when it cannot be made.
    HWND CreateProgressWindow();
    HWND Window() const { return CopyWindow(); }
    using HubCopyWindow::RunCopyLoop;
    void DestroyProgressWindow();

    // IZvFileOperationCallback: E_FAIL while the window does not exist.
    STDMETHODIMP OnOperationComplete() override;
    STDMETHODIMP OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG nErrorCode) override;
    STDMETHODIMP OnItemInit(LPSTR strItem, LONG nSize) override;
    STDMETHODIMP OnItemProgress(LPSTR strItem, LONG nProgress) override;
    STDMETHODIMP OnItemInfo(LPSTR strInfo) override;

  private:
    void OnCopyWindowMade(HWND dialog) override;

    HWND progress_ = nullptr;
    std::string pcPath_;
    UINT captionId_;
    HMODULE language_;
};

// The uploader thread: asks for a device folder, copies the file there and shows the progress.
// `request` is an UploadRequest allocated with new; the thread owns it. Ends with the quit
// code of its message loop (0 when it ends before the copy).
DWORD WINAPI UploaderThreadProc(void* request);

// Starts the uploader thread for `pcPath` and waits for it while dispatching messages. False
// when the thread cannot be started, or the path is longer than the uploader takes.
bool RunUploader(const std::string& pcPath, UINT captionId, HMODULE language);
// The same for a request of a caller's own (another component's dialog texts and steps).
bool RunUploader(UploadRequest request);

} // namespace tv::uploader
