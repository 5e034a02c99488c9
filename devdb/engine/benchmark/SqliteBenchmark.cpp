#include "SqliteBenchmark.h"
#include "BenchRounds.h"
#include "MailBenchmark.h"
#include <cstdio>
#include <sqlite3.h>
#include <vector>

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
    // Commits wait for the disk, whose time for a flush moves with whatever else the machine
    // writes: the stores take turns, round after round, each in new files, and each store's
    // figure is its median round. The scan and the read are of the last round's table.
    EngineFigures engine;
    auto runEngine = [&] {
        if (!engine.tableFile.empty() &&
            (!platform.RemoveFile(engine.tableFile) || !platform.RemoveFile(folder + "email.db")))
            return -1.0;
        engine = RunEngine(platform, folder);
        return engine.ok ? engine.commitSeconds : -1.0;
    };
    auto runSqlite = [&] {
        const std::string path = folder + "mail.sqlite";
        std::remove(path.c_str());
        return RunSqlite(path);
    };
    const auto rounds = tv::bench::InterleavedRounds(
        disk.rounds, {runEngine, runSqlite, [&] { return disk.writeAndFlush(folder + "bound.bin"); }});
    const double read = rounds.empty() ? -1 : disk.readSequentially(engine.tableFile);
    if (rounds.empty() || read <= 0) {
        std::printf("devdb benchmark (%s) failed\n", disk.where);
        return 1;
    }
    const double commit = tv::bench::Median(rounds[0]), sqlite = tv::bench::Median(rounds[1]),
                 bound = tv::bench::Median(rounds[2]);
    const double engineRate = Rate(kRecords, commit);
    std::printf("devdb commits (%s): engine %.0f/s vs SQLite synchronous=FULL %.0f/s (median of %d rounds): "
                "ratio %.2fx (goal >= 1x)\n",
                disk.where, engineRate, Rate(kRecords, sqlite), disk.rounds,
                engineRate / Rate(kRecords, sqlite));
    std::printf(
        "devdb commits (%s): engine %.0f/s vs %s %.0f/s (median of %d rounds): ratio %.2fx (the bound, "
        "goal <= 1x)\n",
        disk.where, engineRate, disk.boundName, Rate(kRecords, bound), disk.rounds,
        engineRate / Rate(kRecords, bound));
    std::printf(
        "devdb scan (%s): condition cursor over %d letters (%d kept) %.1f ms vs sequential read %.2f ms: "
        "ratio %.2fx of the read's speed (the read is the bound)\n",
        disk.where, kRecords, engine.selected, engine.scanSeconds * 1000, read * 1000,
        read / engine.scanSeconds);
    return 0;
}

} // namespace tv::devdb::benchmark
