// Helpers for tests that drive windows under Wine: start a server program, wait for a window,
// click a dialog button, save a screenshot of the desktop.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tv::test {

// A started process; ended (and waited for) when the object goes out of scope.
class StartedProcess {
public:
    StartedProcess() = default;
    StartedProcess(StartedProcess&&) = default;
    StartedProcess& operator=(StartedProcess&&) = default;
    ~StartedProcess() { Terminate(); }

    // Starts `commandLine` (the program's path first); false when it cannot be started.
    bool Start(const std::wstring& commandLine);
    // Waits for the process to end; its exit code, or -1 after `timeoutMs` without an end.
    long WaitForExit(DWORD timeoutMs);
    void Terminate();
    HANDLE Handle() const { return process_.Get(); }
    DWORD Id() const { return id_; }

private:
    com::UniqueHandle process_;
    DWORD id_ = 0;
};

// The folder of the running test program, without a trailing backslash.
std::wstring ExeFolder();

// Whether the run requires a complete install (TV_REQUIRE_INSTALL set and not "0", as the test
// command sets it): then a server that is not registered fails a test instead of skipping it.
bool InstallRequired();

// Polls `done` every 50 ms for at most `timeoutMs`, keeping this thread's own windows alive
// meanwhile; whether it came true.
template <class Done>
bool PollUntil(Done done, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - started >= timeoutMs)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(50);
    }
}

// Answers, on a thread of its own until it is destroyed, every shown and enabled dialog (#32770)
// of this process: `answer` gets each one. A dialog under a message box it brought up is
// disabled and waits; after an answer the thread waits up to `settleMs` for the dialog to go or
// to be disabled (a dialog that refused its input is answered again after that).
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::function<void(HWND)> answer, DWORD settleMs = 10000);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

private:
    void Run();
    std::function<void(HWND)> answer_;
    DWORD settleMs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A shown top-level window of that class and/or title (null: any), or null. A dialog is shown
// once it has initialised its controls, so what a test reads of it is what the user would see.
HWND FindShownWindow(const wchar_t* className, const wchar_t* title);

// Polls for a shown top-level window of that class and/or title for at most `timeoutMs`.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs);

// Polls until the window is destroyed or hidden, for at most `timeoutMs`; false on timeout.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

// Presses the button with that control id in a dialog, as a user's click would.
bool ClickButton(HWND dialog, int buttonId);

// Saves the whole desktop as a 24-bit BMP file.
bool SaveScreenshot(const std::wstring& path);

// The pixels of a rectangle of the screen as the rows of a 24-bit bottom-up BMP (each row padded
// to four bytes); empty when the screen cannot be read.
std::vector<uint8_t> CaptureScreen(int left, int top, int width, int height);

// Acts as the user in a folder browser titled `title`: waits for it (at most `timeoutMs`),
// opens the tree item by item along `folders` (device, then folders below it), selects the last
// one and presses OK, or Cancel when `folders` is empty. The browser may be another process's.
// False when a step failed (the dialog is then cancelled), also when OK's state did not become
// `okExpected`'s for a selected item.
bool PickInFolderBrowser(const wchar_t* title, const std::vector<std::wstring>& folders, DWORD timeoutMs,
                         const std::vector<bool>* okExpected = nullptr);

// The text of a list-view item's column (at most MAX_PATH - 1 characters); the list may be
// another process's.
std::wstring ListViewItemText(HWND list, int item, int column);

} // namespace tv::test
