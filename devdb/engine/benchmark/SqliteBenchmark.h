// SQLite's side of the benchmark (the same letters as autocommit inserts with synchronous=FULL) and
// the run of all stores that both benchmark programs share.
#pragma once
#include "Platform.h"
#include <string>

namespace tv::devdb::benchmark {

// Seconds for kRecords inserts into a new database at `path`; negative when SQLite failed.
double RunSqlite(const std::string& path);

// What a platform brings: its bare write-and-flush loop over the letters (the bound) and a
// sequential read of a file, each in seconds (negative on failure).
struct DiskRuns {
    const char* where;     // "native", "Wine"
    const char* boundName; // how the bound writes
    double (*writeAndFlush)(const std::string& path);
    double (*readSequentially)(const std::string& path);
    int rounds; // of each store, taken in turn; a round writes 30 000 letters, each forced to the disk
};

// Runs the engine, SQLite and the bound in turn, round after round, in `folder` (ending in a
// separator) and prints one line per ratio with its goal; the program's exit code.
int RunBenchmark(DbPlatform& platform, const std::string& folder, const DiskRuns& disk);

} // namespace tv::devdb::benchmark
