#include "MemoryPlatform.h"
#include <cstring>

namespace tv::devdb::testing {

namespace {

class MemoryFile : public DbFile {
  public:
    MemoryFile(std::shared_ptr<std::vector<uint8_t>> bytes, MemoryPlatform& platform)
        : bytes_(std::move(bytes)), platform_(platform) {}

    bool Read(uint64_t offset, void* buffer, size_t size) override {
        if (offset > bytes_->size() || size > bytes_->size() - offset)
            return false;
        platform_.CountRead(size);
        if (size == 0)
            return true;
        std::memcpy(buffer, bytes_->data() + offset, size);
        return true;
    }
    bool Write(uint64_t offset, const void* data, size_t size) override {
        if (offset + size > (1ull << 32) || !platform_.AllowWrite())
            return false;
        if (size == 0)
            return true;
        if (offset + size > bytes_->size())
            bytes_->resize(static_cast<size_t>(offset + size));
        std::memcpy(bytes_->data() + offset, data, size);
        return true;
    }
    bool Size(uint64_t& size) override {
        size = bytes_->size();
        return true;
    }
    bool Resize(uint64_t size) override {
        bytes_->resize(static_cast<size_t>(size));
        return true;
    }
    bool Flush() override { return platform_.AllowFlush(); }

  private:
    std::shared_ptr<std::vector<uint8_t>> bytes_;
    MemoryPlatform& platform_;
};

class SharedStamp : public ChangeStamp {
  public:
    explicit SharedStamp(std::shared_ptr<uint64_t> value) : value_(std::move(value)) {}
    uint64_t Read() override { return *value_; }
    void Raise() override { ++*value_; }

  private:
    std::shared_ptr<uint64_t> value_;
};

} // namespace

std::unique_ptr<ChangeStamp> InProcessChangeStamp(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<uint64_t>> stamps;
    std::lock_guard<std::mutex> guard(mutex);
    auto& value = stamps[path];
    if (!value)
        value = std::make_shared<uint64_t>(0);
    return std::make_unique<SharedStamp>(value);
}

OpenOutcome MemoryPlatform::OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) {
    file.reset();
    if (denied_.count(path))
        return OpenOutcome::Failed;
    auto it = files_.find(path);
    if (mode == OpenMode::Existing) {
        if (it == files_.end())
            return OpenOutcome::NotFound;
    } else {
        if (it != files_.end())
            return OpenOutcome::AlreadyExists;
        it = files_.emplace(path, std::make_shared<std::vector<uint8_t>>()).first;
    }
    file = std::make_unique<MemoryFile>(it->second, *this);
    return OpenOutcome::Opened;
}

bool MemoryPlatform::RemoveFile(const std::string& path) {
    return files_.erase(path) != 0;
}

bool MemoryPlatform::FileExists(const std::string& path) {
    return files_.count(path) != 0;
}

std::unique_ptr<ChangeStamp> MemoryPlatform::OpenChangeStamp(const std::string& path) {
    auto& value = stamps_[path];
    if (!value)
        value = std::make_shared<uint64_t>(0);
    return std::make_unique<SharedStamp>(value);
}

bool MemoryPlatform::MoveReplacing(const std::string& from, const std::string& to) {
    auto it = files_.find(from);
    if (it == files_.end() || denied_.count(to))
        return false;
    // The bytes move into the file's own buffer, so that a test's view of the file stays valid.
    auto& target = files_[to];
    if (target)
        *target = std::move(*it->second);
    else
        target = it->second;
    files_.erase(from);
    return true;
}

bool MemoryPlatform::AllowWrite() {
    ++writes_;
    return writesUntilFailure_ <= 0 || --writesUntilFailure_ != 0;
}

bool MemoryPlatform::AllowFlush() {
    ++flushes_;
    return !failFlushes_;
}

std::vector<uint8_t>& MemoryPlatform::Bytes(const std::string& path) {
    auto& bytes = files_[path];
    if (!bytes)
        bytes = std::make_shared<std::vector<uint8_t>>();
    return *bytes;
}

void MemoryPlatform::Put(const std::string& path, std::vector<uint8_t> bytes) {
    files_[path] = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
}

} // namespace tv::devdb::testing
