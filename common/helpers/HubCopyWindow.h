// The progress window of a copy through the hub (a modeless dialog of the language library)
// for a component that is the copy's callback at the same time: on creation it becomes the
// hub's busy window; a close request or Cancel cancels the copy while it runs and, once the
// copy is done, closes the window and ends the message loop that runs it.
#pragma once
#include "ComPtr.h"
#include "ZelvanMgr.h"
#include <windows.h>
#include <string>

namespace tv {

class HubCopyWindow {
public:
    HubCopyWindow() = default;
    HubCopyWindow(const HubCopyWindow&) = delete;
    HubCopyWindow& operator=(const HubCopyWindow&) = delete;

    // The hub and the device of the copy that Cancel stops.
    void SetCopy(IZelvanMgr* hub, std::string device);
    // Creates dialog `dialogId` of `language` (not owned by anyone); null when it cannot be made.
    HWND CreateCopyWindow(HMODULE language, UINT dialogId);
    void DestroyCopyWindow();
    HWND CopyWindow() const { return window_; }
    // Dispatches this thread's messages, the window getting its dialog messages first, until the
    // loop quits; the quit code. A quit that arrives before the copy is done cancels the copy,
    // waits for its end (at most kCancelWaitMs) and is posted again; CopyInterrupted() then says so.
    int RunCopyLoop();
    static constexpr DWORD kCancelWaitMs = 30000;

protected:
    virtual ~HubCopyWindow() = default;
    // The window exists and is the hub's busy window.
    virtual void OnCopyWindowMade(HWND) {}
    // A message the window does not handle itself; true when handled.
    virtual bool OnCopyWindowMessage(UINT, WPARAM, LPARAM) { return false; }
    // The copy has ended: the window closes unless an error shown in it waits to be read.
    void MarkCopyDone();
    // False also after a copy loop that gave up waiting for a cancelled copy: the hub may then
    // still read what the copy names, which has to stay until the end is reported.
    bool CopyDone() const { return done_; }
    // The last copy loop ended by a quit before the copy was done (the copy was cancelled).
    bool CopyInterrupted() const { return interrupted_; }
    bool ErrorShown() const { return errorShown_; }
    void MarkErrorShown() { errorShown_ = true; }
    // Before a new copy: neither done nor an error shown.
    void ResetCopyState();

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnCloseRequest();
    void OnCancel();
    void CancelAndAwaitCopy();

    HWND window_ = nullptr;
    com::ComPtr<IZelvanMgr> hub_;
    std::string device_;
    bool done_ = false;
    bool errorShown_ = false;
    bool interrupted_ = false;
};

} // namespace tv
