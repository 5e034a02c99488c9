// The staged copies of a restore, written and removed beside the caller's own work: on the PC a
// file's creation and removal cost more than its bytes, and a restore stages every file of a set.
#pragma once
#include <windows.h>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
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
    // Waits until the first `count` files handed over are written; false when one could not be
    // written, or once `stop` (may be null) is set.
    bool WaitWritten(size_t count, HANDLE stop);
    // Waits until every file handed over is written or refused; the path of the first that
    // could not be written, empty when all were.
    std::string Finish();

  private:
    void Work();
    // Notes, under the lock, that the file handed over as number `sequence` is done with.
    void MarkDone(size_t sequence);

    std::mutex mutex_;
    // Wakes the caller waiting for room or written files.
    std::condition_variable changed_;
    // Wakes a writer for a file handed over, or all of them to finish.
    std::condition_variable jobs_;
    std::deque<std::pair<size_t, File>> queue_;
    uint64_t queuedBytes_ = 0;
    bool finishing_ = false;
    std::string failed_;
    // Which files handed over are done with, and how many from the first are.
    std::vector<bool> done_;
    size_t donePrefix_ = 0;
    std::vector<std::thread> threads_;
};

// Stages a list of files in their order, each read from its source when its turn comes, beside
// a copy that takes them in the same order: the copy may take a file once it and every file
// before it are written. Used from one thread.
class OrderedStaging {
  public:
    struct Item {
        std::string path;
        FILETIME time = {};
        // Fills the data; false when the source cannot be read. Let go once it is read.
        std::function<bool(std::vector<uint8_t>& data)> read;
    };
    enum class Ready { kYes, kFailed, kStopped };

    explicit OrderedStaging(std::vector<Item> items) : items_(std::move(items)) {}

    // Hands the next file to the writers; false once all are handed over or one failed.
    bool StageNext();
    // Stages the files up to number `index` and waits until they are written; kStopped once
    // `stop` (may be null) is set. A number past the last is ready at once.
    Ready ReadyThrough(size_t index, HANDLE stop);
    // Waits for the writers; the path of the first file that could not be staged, empty when
    // none failed.
    std::string Finish();

  private:
    std::vector<Item> items_;
    size_t handed_ = 0;
    std::string failed_;
    StagedFileWriter writer_;
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
