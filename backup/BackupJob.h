// One backup or restore as the wizard thread runs it: what the caller fixed, what the pages
// choose, and the handles the progress page shares with the worker thread.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <atomic>
#include <string>

namespace tv::backup {

struct BackupJob {
    std::string deviceId;
    std::string displayName;
    std::string setName;
    std::string setFile;
    std::string backupFolder;
    bool isBackup = true;
    bool modeGiven = false;
    DWORD flags = 0;

    // Texts every page and the worker use.
    HMODULE language = nullptr;
    std::string separator;
    std::string suffix;

    // The sink of the progress page, marshalled for the worker thread.
    IStream* sinkStream = nullptr;
    // The running backuper's cancel event (a duplicate owned here), and whether the user asked
    // to cancel before the worker had it.
    com::CriticalSection cancelLock;
    com::UniqueHandle cancelEvent;
    bool cancelRequested = false;
    HRESULT runResult = S_OK;
};

// Asks the running backuper to stop (now, or as soon as the worker has its event).
void RequestCancel(BackupJob& job);

// The worker thread of the progress page: finds the device's backuper on this thread, attaches
// the page's sink and runs the job. Exit code 0 when the run succeeded, 1 otherwise.
DWORD WINAPI BackupWorkerThread(void* job);

// The wizard thread: takes the hub's busy flag, runs the wizard and frees the job. Its exit
// code is the wizard's result.
DWORD WINAPI BackupWizardThread(void* job);

} // namespace tv::backup
