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
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    Stopwatch watch;
    bool ok = true;
    for (int n = 1; n <= kRecords && ok; ++n) {
        const Letter letter = LetterNumber(n);
        const std::string bytes = letter.subject + letter.box + letter.to + letter.from + std::string(12, '\0');
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
    const std::string folder = std::string(argv[1]) + "\\";
    tv::devdb::Win32Platform platform;
    const EngineFigures engine = RunEngine(platform, folder);
    const double sqlite = RunSqlite(folder + "mail.sqlite");
    const double bound = RunWriteFlush(folder + "bound.bin");
    const double read = ReadSequentially(engine.tableFile);
    if (!engine.ok || sqlite <= 0 || bound <= 0 || read <= 0) {
        std::printf("devdb benchmark (Wine) failed\n");
        return 1;
    }
    const double engineRate = Rate(kRecords, engine.commitSeconds);
    std::printf("devdb commits (Wine): engine %.0f/s vs SQLite synchronous=FULL %.0f/s: ratio %.2fx (goal >= 1x)\n",
                engineRate, Rate(kRecords, sqlite), engineRate / Rate(kRecords, sqlite));
    std::printf("devdb commits (Wine): engine %.0f/s vs WriteFile+FlushFileBuffers %.0f/s: ratio %.2fx (the bound, "
                "goal <= 1x)\n",
                engineRate, Rate(kRecords, bound), engineRate / Rate(kRecords, bound));
    std::printf("devdb scan (Wine): condition cursor over %d letters (%d kept) %.1f ms vs sequential read %.2f ms: "
                "ratio %.2fx of the read's speed (the read is the bound)\n",
                kRecords, engine.selected, engine.scanSeconds * 1000, read * 1000, read / engine.scanSeconds);
    return 0;
}
