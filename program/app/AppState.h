// Process-wide state of the program: handles and holders that the main thread fills before the
// UI thread starts and releases after it ended.
#pragma once
#include "Handles.h"
#include "MarshalledInterface.h"
#include <windows.h>
#include <string>

namespace tv::app {

struct AppState {
    HINSTANCE instance = nullptr;
    HMODULE language = nullptr;      // every dialog, menu, icon, bitmap and text comes from it
    DWORD mainThreadId = 0;
    com::UniqueHandle uiReady;       // set once the main dialog exists
    com::UniqueHandle uiEnded;       // set when the UI thread has ended (or never started)
    MarshalledInterface hub;         // IZelvanMgr
    MarshalledInterface syncManager; // IZvSyncMgr
    MarshalledInterface backupManager; // IZvBackupMgr
};

AppState& App();

// A text of the language library ("" when missing).
std::wstring LoadText(UINT id);

// Writes one line to the shared log through the logger of the process (no effect without one).
void WriteLog(const std::string& line);

} // namespace tv::app
