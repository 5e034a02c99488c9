#include "TestProcess.h"
#include "Handles.h"
#include "HResult.h"
#include "RegistryScript.h"
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tv::tests {

std::wstring PathBesideExecutable(const wchar_t* fileName) {
    std::wstring path = com::ModulePath(nullptr);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + fileName;
}

DWORD RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info))
        return static_cast<DWORD>(com::LastErrorHResult());
    com::UniqueHandle process(info.hProcess);
    com::UniqueHandle thread(info.hThread);
    if (WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        return static_cast<DWORD>(HRESULT_FROM_WIN32(WAIT_TIMEOUT));
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode))
        return static_cast<DWORD>(com::LastErrorHResult());
    return exitCode;
}

void WaitOrAbort(HANDLE handle, DWORD timeoutMs, const char* what) {
    if (WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0)
        return;
    std::fprintf(stderr, "%s did not end within %lu ms\n", what, static_cast<unsigned long>(timeoutMs));
    std::fflush(stderr);
    std::abort();
}

} // namespace tv::tests
