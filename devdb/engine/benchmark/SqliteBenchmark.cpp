#include "SqliteBenchmark.h"
#include "MailBenchmark.h"
#include <cstdio>
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

int RunBenchmark(DbPlatform& platform, const std::string& folder, const DiskRuns& disk) {
    const EngineFigures engine = RunEngine(platform, folder);
    const double sqlite = RunSqlite(folder + "mail.sqlite");
    const double bound = disk.writeAndFlush(folder + "bound.bin");
    const double read = engine.ok ? disk.readSequentially(engine.tableFile) : -1;
    if (!engine.ok || sqlite <= 0 || bound <= 0 || read <= 0) {
        std::printf("devdb benchmark (%s) failed\n", disk.where);
        return 1;
    }
    const double engineRate = Rate(kRecords, engine.commitSeconds);
    std::printf(
        "devdb commits (%s): engine %.0f/s vs SQLite synchronous=FULL %.0f/s: ratio %.2fx (goal >= 1x)\n",
        disk.where, engineRate, Rate(kRecords, sqlite), engineRate / Rate(kRecords, sqlite));
    std::printf("devdb commits (%s): engine %.0f/s vs %s %.0f/s: ratio %.2fx (the bound, goal <= 1x)\n",
                disk.where, engineRate, disk.boundName, Rate(kRecords, bound),
                engineRate / Rate(kRecords, bound));
    std::printf(
        "devdb scan (%s): condition cursor over %d letters (%d kept) %.1f ms vs sequential read %.2f ms: "
        "ratio %.2fx of the read's speed (the read is the bound)\n",
        disk.where, kRecords, engine.selected, engine.scanSeconds * 1000, read * 1000,
        read / engine.scanSeconds);
    return 0;
}

} // namespace tv::devdb::benchmark
