#include "StagedFiles.h"
#include "BackupFileStream.h"
#include "Handles.h"
#include <chrono>
#include <system_error>

namespace tv::backup {

namespace {

// Three writers: beyond that the PC's file system, not the threads, sets the pace.
constexpr unsigned kWriters = 3;
// The bytes handed over and not yet written, at most (a larger file is taken alone).
constexpr uint64_t kQueuedBytes = uint64_t{32} << 20;

bool WriteStagedFile(const StagedFileWriter::File& file) {
    com::UniqueFileHandle handle(CreateFileA(file.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return false;
    const auto size = static_cast<DWORD>(file.data.size());
    DWORD written = 0;
    if (size && (!WriteFile(handle.Get(), file.data.data(), size, &written, nullptr) || written != size)) {
        handle.Reset();
        DeleteLocalFile(file.path);
        return false;
    }
    // The staged file carries the entry's time, so that the copy can give it to the device.
    SetFileTime(handle.Get(), nullptr, nullptr, &file.time);
    return true;
}

// Waits, under `lock`, for the next job of a worker's queue; false once the queue is empty and
// the worker is finishing.
template <class Job>
bool TakeNext(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, std::deque<Job>& queue,
              const bool& finishing, Job& next) {
    changed.wait(lock, [&] { return !queue.empty() || finishing; });
    if (queue.empty())
        return false;
    next = std::move(queue.front());
    queue.pop_front();
    return true;
}

} // namespace

StagedFileWriter::StagedFileWriter() {
    try {
        for (unsigned i = 0; i < kWriters; ++i)
            threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // Fewer writers, or none: then Write writes the file itself.
    }
}

StagedFileWriter::~StagedFileWriter() {
    Finish();
}

bool StagedFileWriter::Write(File file) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
        return !failed_.empty() || queue_.empty() || queuedBytes_ + file.data.size() <= kQueuedBytes;
    });
    if (!failed_.empty())
        return false;
    const size_t sequence = done_.size();
    done_.push_back(false);
    if (threads_.empty()) {
        if (!WriteStagedFile(file))
            failed_ = file.path;
        MarkDone(sequence);
        return failed_.empty();
    }
    queuedBytes_ += file.data.size();
    queue_.emplace_back(sequence, std::move(file));
    // One writer takes it; waking them all would make each wake cost the caller.
    jobs_.notify_one();
    return true;
}

void StagedFileWriter::MarkDone(size_t sequence) {
    done_[sequence] = true;
    while (donePrefix_ < done_.size() && done_[donePrefix_])
        ++donePrefix_;
}

bool StagedFileWriter::WaitWritten(size_t count, HANDLE stop) {
    // Looks at the stop event between short waits: a writer's progress is all that wakes it.
    constexpr auto kLook = std::chrono::milliseconds(20);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!failed_.empty())
            return false;
        if (donePrefix_ >= count)
            return true;
        if (stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)
            return false;
        changed_.wait_for(lock, kLook);
    }
}

std::string StagedFileWriter::Finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    jobs_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
    threads_.clear();
    return failed_;
}

void StagedFileWriter::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (std::pair<size_t, File> job; TakeNext(lock, jobs_, queue_, finishing_, job);) {
        const File& file = job.second;
        // A file after a failure is not written: the caller removes what was staged.
        const bool skip = !failed_.empty();
        lock.unlock();
        const bool written = skip || WriteStagedFile(file);
        lock.lock();
        queuedBytes_ -= file.data.size();
        if (!written && failed_.empty())
            failed_ = file.path;
        MarkDone(job.first);
        changed_.notify_all();
    }
}

bool OrderedStaging::StageNext() {
    if (handed_ == items_.size() || !failed_.empty())
        return false;
    Item& item = items_[handed_];
    StagedFileWriter::File file{item.path, {}, item.time};
    const bool read = item.read(file.data);
    item.read = nullptr;
    if (!read) {
        failed_ = item.path;
        return false;
    }
    if (!writer_.Write(std::move(file)))
        return false;
    ++handed_;
    return true;
}

OrderedStaging::Ready OrderedStaging::ReadyThrough(size_t index, HANDLE stop) {
    if (index >= items_.size())
        return Ready::kYes;
    while (handed_ <= index)
        if (!StageNext())
            return Ready::kFailed;
    if (writer_.WaitWritten(index + 1, stop))
        return Ready::kYes;
    return stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0 ? Ready::kStopped : Ready::kFailed;
}

std::string OrderedStaging::Finish() {
    const std::string refused = writer_.Finish();
    return failed_.empty() ? refused : failed_;
}

StagedFileRemover::StagedFileRemover(const std::vector<std::string>& paths)
    : pending_(paths.begin(), paths.end()) {
    try {
        thread_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No thread: each file is removed where it is handed over.
    }
}

StagedFileRemover::~StagedFileRemover() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& path : pending_)
            if (thread_.joinable())
                queue_.push_back(path);
            else
                DeleteLocalFile(path);
        pending_.clear();
        finishing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void StagedFileRemover::Remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_.erase(path))
        return;
    if (!thread_.joinable()) {
        DeleteLocalFile(path);
        return;
    }
    queue_.push_back(path);
    changed_.notify_all();
}

void StagedFileRemover::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (std::string path; TakeNext(lock, changed_, queue_, finishing_, path);) {
        lock.unlock();
        DeleteLocalFile(path);
        lock.lock();
    }
}

} // namespace tv::backup
