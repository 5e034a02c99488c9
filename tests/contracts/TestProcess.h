// Helpers of the contract tests: paths beside the test executable, child processes run to their
// end, and waits that end the run when a thread or process hangs.
#pragma once
#include <windows.h>
#include <string>

namespace tv::tests {

// Full path of a file in the folder of the running executable.
std::wstring PathBesideExecutable(const wchar_t* fileName);

// Runs a command line without a window and waits at most timeoutMs for it to end. Returns its exit
// code, or the HRESULT of the failure to start or to finish in time.
DWORD RunProcess(const std::wstring& commandLine, DWORD timeoutMs);

// Waits at most timeoutMs for the handle; a hang here cannot be recovered from (a thread still
// uses the caller's objects), so it ends the process with a message naming what hung.
void WaitOrAbort(HANDLE handle, DWORD timeoutMs, const char* what);

} // namespace tv::tests
