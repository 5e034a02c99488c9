// The UI thread: starts the device factories, hands over a file-open request, and runs the
// hidden main dialog that owns the tray icon until the user exits.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <optional>
#include <string>

namespace tv::app {

class UiThread {
public:
    explicit UiThread(std::optional<std::string> fileOpenArguments) : fileOpen_(std::move(fileOpenArguments)) {}
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;
    ~UiThread() { Join(); }

    bool Start();
    HANDLE Handle() const { return thread_.Get(); }
    // Waits for the thread's end (it is bounded by the user's exit; the caller waits first).
    void Join();

private:
    static DWORD WINAPI ThreadProc(void* self);
    DWORD Run();

    std::optional<std::string> fileOpen_;
    com::UniqueHandle thread_;
};

// Asks for a tray state from any thread; the UI thread applies it.
void RequestTrayState(UINT state);

} // namespace tv::app
