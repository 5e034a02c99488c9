// Test-only: moves a file's last-write time to whole minutes from now, the way a change made on
// one side at that moment would leave it (device listings keep minutes).
#pragma once
#include <windows.h>
#include <string>

namespace tv::filesync::testing {

inline void Age(const std::string& path, int minutes) {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time;
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart += static_cast<LONGLONG>(minutes) * 60LL * 10000000LL;
    const FILETIME set = {time.LowPart, time.HighPart};
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFileTime(file, nullptr, nullptr, &set);
    CloseHandle(file);
}

} // namespace tv::filesync::testing
