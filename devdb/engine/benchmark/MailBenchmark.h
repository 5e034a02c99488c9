// The device database benchmark, shared by the native and the Windows program: mail-like records
// added and committed one at a time (each commit flushes the file), then a condition-cursor scan
// of them. The callers time the same work on their platform's other stores and print the ratios.
#pragma once
#include "Platform.h"
#include <chrono>
#include <cstdint>
#include <string>

namespace tv::devdb::benchmark {

constexpr int kRecords = 10000;

// The fields of letter n, as every store of the benchmark writes them.
struct Letter {
    std::string subject, to, from, box;
    uint32_t flags = 0, date = 0, size = 0;
};
Letter LetterNumber(int n);

struct EngineFigures {
    double commitSeconds = 0; // adding and committing kRecords letters
    double scanSeconds = 0;   // a condition cursor over them
    int selected = 0;         // rows the condition kept
    std::string tableFile;    // the file the letters went to
    bool ok = false;
};

// Makes a catalog in `folder` (which must end in a separator and hold no database yet) with one
// mail table, adds kRecords letters one commit each, and scans them with a condition.
EngineFigures RunEngine(DbPlatform& platform, const std::string& folder);

// Records per second.
inline double Rate(int records, double seconds) {
    return seconds > 0 ? records / seconds : 0;
}

class Stopwatch {
  public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace tv::devdb::benchmark
