// The log file that every component and process of the suite shares: each opening and each
// write holds a named mutex for its whole length, so texts of different processes never mix.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <string>

namespace tv::logger {

// Name of the mutex that serialises the writers of every process.
inline constexpr wchar_t kLogMutexName[] = L"6C9A855B-A51A-4BB6-8127-CB2436CF1F7A";
// How long a writer waits for the mutex before it gives up.
inline constexpr DWORD kLogMutexWaitMs = 30000;
// A log this large or larger is emptied when a logger opens it.
inline constexpr ULONGLONG kEmptyLogAtSize = 0x100001;

// "<temporary folder>Zelvan\Tavrilon.log"; the folder is created when missing. When the
// temporary folder cannot be found the path is "\Tavrilon.log".
std::string SharedLogPath();

// The line written each time a logger opens the log.
std::string FormatHeaderLine(const SYSTEMTIME& localTime);

class LogFile {
  public:
    LogFile(std::string path, std::wstring mutexName, DWORD mutexWaitMs = kLogMutexWaitMs);

    // Creates the mutex, empties an oversized file and writes the header line.
    HRESULT Open();
    // Appends the text's bytes (without its terminating zero) at the end of the file.
    HRESULT Append(const char* text);

    const std::string& Path() const { return path_; }

  private:
    HRESULT OpenForWriting(com::UniqueFileHandle& file) const;

    std::string path_;
    std::wstring mutexName_;
    DWORD mutexWaitMs_;
    com::UniqueHandle mutex_;
};

} // namespace tv::logger
