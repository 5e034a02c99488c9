// The device database benchmark as a Windows program (run under Wine): the engine's
// one-commit-per-letter adds against SQLite with synchronous=FULL autocommit inserts and against a
// bare WriteFile+FlushFileBuffers loop on the same disk (the bound), and the condition-cursor scan
// against a sequential read of the table file.
// Usage: zvdb_benchmark <empty folder>
#include "MailBenchmark.h"
#include "SqliteBenchmark.h"
#include "Win32Platform.h"
#include <cstdio>
#include <vector>

using namespace tv::devdb::benchmark;

namespace {

double RunWriteFlush(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    Stopwatch watch;
    bool ok = true;
    for (int n = 1; n <= kRecords && ok; ++n) {
        const Letter letter = LetterNumber(n);
        const std::string bytes =
            letter.subject + letter.box + letter.to + letter.from + std::string(12, '\0');
        DWORD written = 0;
        ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size() && FlushFileBuffers(file);
    }
    const double seconds = watch.Seconds();
    CloseHandle(file);
    return ok ? seconds : -1;
}

double ReadSequentially(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    std::vector<char> buffer(65536);
    Stopwatch watch;
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    }
    const double seconds = watch.Seconds();
    CloseHandle(file);
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    tv::devdb::Win32Platform platform;
    // Three rounds: under Wine a round takes some 25 s, most of it SQLite's.
    return RunBenchmark(platform, std::string(argv[1]) + "\\",
                        {"Wine", "WriteFile+FlushFileBuffers", RunWriteFlush, ReadSequentially, 3});
}
