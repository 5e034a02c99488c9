#include "byte_io.h"

#include "result_codes.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace caparchive {
namespace {

int ErrorFromErrno(int error, int fallback) {
    switch (error) {
    case ENOENT:
        return kErrorFileNotFound;
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    default:
        return fallback;
    }
}

int SeekTo(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int64_t FileSize(std::FILE* file) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return -1;
    return _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    return ftello(file);
#endif
}

} // namespace

int ReadBlock(ByteSource& source, uint64_t offset, uint64_t length, std::vector<uint8_t>& block) {
    try {
        block.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    return source.ReadAt(offset, block);
}

int MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset)
        return kErrorInvalidData;
    if (!out.empty())
        std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return kSuccess;
}

int VectorSink::Write(std::span<const uint8_t> bytes) {
    try {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    return kSuccess;
}

FileSource::~FileSource() {
    if (file_)
        std::fclose(file_);
}

int FileSource::Open(const std::string& path) {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return ErrorFromErrno(errno, kErrorFileNotFound);
    const int64_t size = FileSize(file);
    if (size < 0) {
        const int error = ErrorFromErrno(errno, kErrorReadFault);
        std::fclose(file);
        return error;
    }
    file_ = file;
    size_ = static_cast<uint64_t>(size);
    return kSuccess;
}

int FileSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
    if (!file_)
        return kErrorInvalidParameter;
    if (offset > size_ || out.size() > size_ - offset)
        return kErrorInvalidData;
    if (out.empty())
        return kSuccess;
    if (SeekTo(file_, offset) != 0 || std::fread(out.data(), 1, out.size(), file_) != out.size())
        return kErrorReadFault;
    return kSuccess;
}

FileSink::~FileSink() {
    if (file_)
        std::fclose(file_);
}

int FileSink::Create(const std::string& path) {
    if (file_)
        Close();
    file_ = std::fopen(path.c_str(), "wb");
    return file_ ? kSuccess : ErrorFromErrno(errno, kErrorWriteFault);
}

int FileSink::Write(std::span<const uint8_t> bytes) {
    if (!file_)
        return kErrorInvalidParameter;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        return kErrorWriteFault;
    return kSuccess;
}

int FileSink::Close() {
    if (!file_)
        return kSuccess;
    const bool failed = std::fclose(file_) != 0;
    file_ = nullptr;
    return failed ? kErrorWriteFault : kSuccess;
}

int ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FileSource source;
    if (const int result = source.Open(path); result != kSuccess)
        return result;
    try {
        bytes.resize(static_cast<size_t>(source.Size()));
    } catch (const std::exception&) {
        return kErrorNotEnoughMemory;
    }
    return source.ReadAt(0, bytes);
}

} // namespace caparchive
