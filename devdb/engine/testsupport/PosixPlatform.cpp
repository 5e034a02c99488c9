#include "PosixPlatform.h"
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::devdb::testing {

namespace {

class PosixFile : public DbFile {
  public:
    PosixFile(int fd, bool flushes) : fd_(fd), flushes_(flushes) {}
    ~PosixFile() override { close(fd_); }

    bool Read(uint64_t offset, void* buffer, size_t size) override {
        return pread(fd_, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    }
    bool Write(uint64_t offset, const void* data, size_t size) override {
        return pwrite(fd_, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    }
    bool Size(uint64_t& size) override {
        struct stat st;
        if (fstat(fd_, &st) != 0)
            return false;
        size = static_cast<uint64_t>(st.st_size);
        return true;
    }
    bool Resize(uint64_t size) override { return ftruncate(fd_, static_cast<off_t>(size)) == 0; }
    bool Flush() override { return !flushes_ || fsync(fd_) == 0; }

  private:
    int fd_;
    bool flushes_;
};

} // namespace

OpenOutcome PosixPlatform::OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) {
    file.reset();
    const int flags = mode == OpenMode::Existing ? O_RDWR : O_RDWR | O_CREAT | O_EXCL;
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0)
        return errno == ENOENT   ? OpenOutcome::NotFound
               : errno == EEXIST ? OpenOutcome::AlreadyExists
                                 : OpenOutcome::Failed;
    file = std::make_unique<PosixFile>(fd, flushes_);
    return OpenOutcome::Opened;
}

bool PosixPlatform::RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool PosixPlatform::MoveReplacing(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool PosixPlatform::FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

uint32_t PosixPlatform::TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace tv::devdb::testing
