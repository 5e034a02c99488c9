// The staged copies of a restore, written and removed beside the caller's own work: on the PC a
// file's creation and removal cost more than its bytes, and a restore stages every file of a set.
#pragma once
#include <windows.h>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace tv::backup {

// Writes files on a few threads of its own, taking at most a bounded number of bytes at a time
// from the caller. The destructor waits for the files handed over.
class StagedFileWriter {
  public:
    struct File {
        std::string path;
        std::vector<uint8_t> data;
        FILETIME time = {};
    };

    StagedFileWriter();
    StagedFileWriter(const StagedFileWriter&) = delete;
    StagedFileWriter& operator=(const StagedFileWriter&) = delete;
    ~StagedFileWriter();

    // Hands a file over to be written (created anew, with its data and last-write time); waits
    // while the files not yet written hold too many bytes. False once a file could not be
    // written: nothing more is taken.
    bool Write(File file);
    // Waits until every file handed over is written or refused; the path of the first that
    // could not be written, empty when all were.
    std::string Finish();

  private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<File> queue_;
    uint64_t queuedBytes_ = 0;
    bool finishing_ = false;
    std::string failed_;
    std::vector<std::thread> threads_;
};

// Removes staged files on a thread of its own: each one as soon as it is done with, the rest
// when the remover goes. The destructor waits until all are removed.
class StagedFileRemover {
  public:
    explicit StagedFileRemover(const std::vector<std::string>& paths);
    StagedFileRemover(const StagedFileRemover&) = delete;
    StagedFileRemover& operator=(const StagedFileRemover&) = delete;
    ~StagedFileRemover();

    // Removes `path` if it is one of the files and was not removed yet; any other path is left.
    void Remove(const std::string& path);

  private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_set<std::string> pending_;
    std::deque<std::string> queue_;
    bool finishing_ = false;
    std::thread thread_;
};

} // namespace tv::backup
