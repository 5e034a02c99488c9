// SQLite's side of the benchmark: the same letters as autocommit inserts with synchronous=FULL.
#pragma once
#include <string>

namespace tv::devdb::benchmark {

// Seconds for kRecords inserts into a new database at `path`; negative when SQLite failed.
double RunSqlite(const std::string& path);

} // namespace tv::devdb::benchmark
