#include "Win32Platform.h"
#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tv::devdb {

namespace {

class Win32File : public DbFile {
  public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;
    ~Win32File() override { CloseHandle(handle_); }

    bool Read(uint64_t offset, void* buffer, size_t size) override {
        auto* p = static_cast<uint8_t*>(buffer);
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
            OVERLAPPED at = AtOffset(offset);
            DWORD done = 0;
            if (!ReadFile(handle_, p, chunk, &done, &at) || done != chunk)
                return false;
            p += chunk;
            offset += chunk;
            size -= chunk;
        }
        return true;
    }
    bool Write(uint64_t offset, const void* data, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
            OVERLAPPED at = AtOffset(offset);
            DWORD done = 0;
            if (!WriteFile(handle_, p, chunk, &done, &at) || done != chunk)
                return false;
            p += chunk;
            offset += chunk;
            size -= chunk;
        }
        return true;
    }
    bool Size(uint64_t& size) override {
        LARGE_INTEGER value;
        if (!GetFileSizeEx(handle_, &value))
            return false;
        size = static_cast<uint64_t>(value.QuadPart);
        return true;
    }
    bool Resize(uint64_t size) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        return SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
    }
    bool Flush() override { return FlushFileBuffers(handle_) != FALSE; }

  private:
    static OVERLAPPED AtOffset(uint64_t offset) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        return at;
    }

    HANDLE handle_;
};

class SharedStamp : public ChangeStamp {
  public:
    SharedStamp(HANDLE section, LONG64* value) : section_(section), value_(value) {}
    SharedStamp(const SharedStamp&) = delete;
    SharedStamp& operator=(const SharedStamp&) = delete;
    ~SharedStamp() override {
        UnmapViewOfFile(value_);
        CloseHandle(section_);
    }
    uint64_t Read() override { return static_cast<uint64_t>(InterlockedCompareExchange64(value_, 0, 0)); }
    void Raise() override { InterlockedIncrement64(value_); }

  private:
    HANDLE section_;
    LONG64* value_;
};

} // namespace

NamedRecursiveLock::NamedRecursiveLock(const char* name) : mutex_(CreateMutexA(nullptr, FALSE, name)) {
    // A name taken by an object of another kind still leaves a lock for this process.
    if (!mutex_)
        mutex_ = CreateMutexA(nullptr, FALSE, nullptr);
}

NamedRecursiveLock::~NamedRecursiveLock() {
    if (mutex_)
        CloseHandle(mutex_);
}

void NamedRecursiveLock::Acquire() {
    const DWORD self = GetCurrentThreadId();
    if (owner_ == self) {
        ++depth_;
        return;
    }
    // A holder that died leaves the mutex abandoned; the wait then hands it to us.
    WaitForSingleObject(mutex_, INFINITE);
    owner_ = self;
    depth_ = 1;
}

void NamedRecursiveLock::Release() {
    if (owner_ != GetCurrentThreadId())
        return;
    if (--depth_ == 0) {
        owner_ = 0;
        ReleaseMutex(mutex_);
    }
}

Win32Platform::Win32Platform() : tableLock_("TABLE_data_access"), eventLock_("Event") {}

OpenOutcome Win32Platform::OpenFile(const std::string& path, OpenMode mode, std::unique_ptr<DbFile>& file) {
    file.reset();
    const HANDLE handle = CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, mode == OpenMode::Existing ? OPEN_EXISTING : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return OpenOutcome::NotFound;
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            return OpenOutcome::AlreadyExists;
        return OpenOutcome::Failed;
    }
    file = std::make_unique<Win32File>(handle);
    return OpenOutcome::Opened;
}

bool Win32Platform::RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

bool Win32Platform::MoveReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Win32Platform::FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
           (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND);
}

std::unique_ptr<ChangeStamp> Win32Platform::OpenChangeStamp(const std::string& tablePath) {
    // One section per table file, named by a hash of its full path in upper case.
    char full[MAX_PATH * 2];
    const DWORD length = GetFullPathNameA(tablePath.c_str(), sizeof full, full, nullptr);
    std::string key = length > 0 && length < sizeof full ? std::string(full, length) : tablePath;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : key)
        hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "ZvDBTableStamp_%016llX", static_cast<unsigned long long>(hash));
    const HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name);
    if (!section)
        return nullptr;
    auto* value = static_cast<LONG64*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 8));
    if (!value) {
        CloseHandle(section);
        return nullptr;
    }
    return std::make_unique<SharedStamp>(section, value);
}

} // namespace tv::devdb
