#include "SqliteBenchmark.h"
#include "MailBenchmark.h"
#include <sqlite3.h>

namespace tv::devdb::benchmark {

// SQLite: one autocommit insert per letter, every commit synchronous.
double RunSqlite(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        return -1;
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db,
                     "CREATE TABLE mail(key INTEGER PRIMARY KEY, subject TEXT, flags INTEGER, date INTEGER,"
                     " size INTEGER, box TEXT, recipient TEXT, sender TEXT)",
                     nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "INSERT INTO mail VALUES(NULL, ?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr) !=
            SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    Stopwatch watch;
    bool ok = true;
    for (int n = 1; n <= kRecords && ok; ++n) {
        const Letter letter = LetterNumber(n);
        sqlite3_bind_text(insert, 1, letter.subject.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 2, letter.flags);
        sqlite3_bind_int64(insert, 3, letter.date);
        sqlite3_bind_int64(insert, 4, letter.size);
        sqlite3_bind_text(insert, 5, letter.box.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 6, letter.to.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 7, letter.from.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    const double seconds = watch.Seconds();
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return ok ? seconds : -1;
}

} // namespace tv::devdb::benchmark
