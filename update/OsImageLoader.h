// The operating-system image loader's worker: it reads the image, then runs a small log window
// (the loader window) whose timers look for a device in its loader mode, hand it the whole image
// with one device request and wait for the booted device to come back. The owning object only
// sees the shared state below.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace tv::update {

// Status codes of a load, as the waiting calls report them.
inline constexpr long kStatusRunning = 50;
inline constexpr long kStatusNoObject = ERROR_INVALID_PARAMETER;     // 87
inline constexpr long kStatusNoMemory = ERROR_NOT_ENOUGH_MEMORY;     // 8
inline constexpr long kStatusNoWindow = ERROR_INVALID_HANDLE;        // 6
inline constexpr long kStatusNotSent = ERROR_WRITE_FAULT;            // 29
inline constexpr long kStatusFinishTimer = WAIT_TIMEOUT;             // 258
inline constexpr long kStatusCancelled = ERROR_CANCELLED;            // 1223
inline constexpr long kStatusWaitTimedOut = ERROR_TIMEOUT;           // 1460
inline constexpr long kStatusLoadRunning = ERROR_ALREADY_INITIALIZED; // 1247
inline constexpr long kStatusImageTooLarge = ERROR_FILE_TOO_LARGE;   // 223
inline constexpr long kStatusEmptyImage = ERROR_EMPTY;               // 4306: the image file has no bytes
inline constexpr long kStatusNoTimer = ERROR_NO_SYSTEM_RESOURCES;    // 1450: a timer failed without a code

inline constexpr DWORD kLoadImageRequest = 0x22003C;

// What the owner and its worker share; owned by the object, which outlives the worker.
struct LoaderShared {
    HANDLE startEvent = nullptr;  // event A: the load is under way, or ended
    HANDLE deviceEvent = nullptr; // event B: a loader-mode device was opened, or the load ended
    std::atomic<HWND> window{nullptr};
    std::atomic<long> status{kStatusRunning};
    std::atomic<long> showWindow{0};
    std::atomic<bool> cancelRequested{false};
};

// The properties a load starts with.
struct LoaderSettings {
    std::wstring imageFile;
    long usbDeviceId = 0;
    long finishInterval = 0;
    std::wstring zvId;
};

// An image read whole into memory.
struct OsImage {
    std::unique_ptr<uint8_t[]> bytes;
    DWORD length = 0;
};

// Reads the file whole: 0, or the system error code of the open or the read, 8 when there is no
// memory, ERROR_FILE_TOO_LARGE for a file of 4 GiB or more (one request cannot carry it) and
// kStatusEmptyImage for an empty file.
long ReadOsImage(const std::wstring& fileName, OsImage& image);

// The result of handing an image to the device with the image request.
struct SendResult {
    BOOL accepted = FALSE;
    DWORD returned = 0;
    DWORD error = 0;
    DWORD elapsedMs = 0;
};
SendResult SendOsImage(HANDLE device, const OsImage& image);

// The worker thread's body; `context` is a LoaderThreadContext made with new (it is deleted here).
struct LoaderThreadContext {
    LoaderShared* shared = nullptr;
    LoaderSettings settings;
};
DWORD WINAPI LoadThreadProc(void* context);

// The private message that shows (wParam non-zero) or hides the loader window.
inline constexpr UINT kShowLoaderMessage = WM_APP + 1;

} // namespace tv::update
