// The device database benchmark on this machine's disk: the engine's one-commit-per-letter adds
// against SQLite with synchronous=FULL autocommit inserts of the same letters, and against a bare
// write+fsync loop (the bound); then the condition-cursor scan against a sequential read of the
// table file. Usage: devdb_benchmark <empty folder>
#include "MailBenchmark.h"
#include "PosixPlatform.h"
#include "SqliteBenchmark.h"
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace tv::devdb::benchmark;

namespace {

// The bound: each letter's bytes appended and forced to the disk.
double RunWriteFsync(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return -1;
    Stopwatch watch;
    bool ok = true;
    for (int n = 1; n <= kRecords && ok; ++n) {
        const Letter letter = LetterNumber(n);
        const std::string bytes =
            letter.subject + letter.box + letter.to + letter.from + std::string(12, '\0');
        ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && fsync(fd) == 0;
    }
    const double seconds = watch.Seconds();
    close(fd);
    return ok ? seconds : -1;
}

double ReadSequentially(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    std::vector<char> buffer(65536);
    Stopwatch watch;
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    const double seconds = watch.Seconds();
    close(fd);
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    tv::devdb::testing::PosixPlatform platform;
    // Five rounds of some 12 s each.
    return RunBenchmark(platform, std::string(argv[1]) + "/",
                        {"native", "write+fsync", RunWriteFsync, ReadSequentially, 5});
}
