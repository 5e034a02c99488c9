#include "FileStager.h"
#include "MessagePump.h"
#include <algorithm>

namespace tv {
namespace {

// The writer looks for a stop between pieces of this size.
constexpr size_t kWritePiece = 1024 * 1024;

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

} // namespace

FileStager::FileStager(std::wstring temporaryPrefix)
    : prefix_(std::move(temporaryPrefix)), work_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      change_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FileStager::~FileStager() {
    if (thread_) {
        stopping_ = true;
        SetEvent(work_.Get());
        // The writer ends after at most one piece of the file it is writing.
        WaitForSingleObject(thread_.Get(), INFINITE);
    }
    if (leaveFiles_)
        return;
    for (const File& file : files_)
        if (file.hasPath && SUCCEEDED(file.pathResult) && !file.deleted)
            DeleteFileW(file.path.c_str());
}

HRESULT FileStager::Add(std::wstring path, std::vector<uint8_t> data) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        File& file = files_.emplace_back();
        file.hasPath = !path.empty();
        file.path = std::move(path);
        file.data = std::move(data);
    }
    if (!thread_) {
        if (!work_ || !change_)
            return E_OUTOFMEMORY;
        thread_.Reset(CreateThread(nullptr, 0, WriterProc, this, 0, nullptr));
        if (!thread_)
            return LastError();
    }
    SetEvent(work_.Get());
    return S_OK;
}

size_t FileStager::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return files_.size();
}

template <class Ready> HRESULT FileStager::WaitFor(size_t index, Ready ready) {
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (index >= files_.size())
                return E_INVALIDARG;
            HRESULT hr = S_OK;
            if (ready(files_[index], hr))
                return hr;
        }
        if (!thread_)
            return E_UNEXPECTED;
        // The writer signals after every path and file and ends only when the stager goes, so
        // the wait lasts no longer than the work before file `index`.
        if (!WaitWithMessagePump(change_.Get(), INFINITE))
            return E_ABORT;
    }
}

HRESULT FileStager::WaitPath(size_t index, std::wstring& path) {
    return WaitFor(index, [&path](const File& file, HRESULT& hr) {
        if (!file.hasPath)
            return false;
        path = file.path;
        hr = file.pathResult;
        return true;
    });
}

HRESULT FileStager::WaitWritten(size_t index) {
    return WaitFor(index, [](const File& file, HRESULT& hr) {
        hr = file.writeResult;
        return file.written;
    });
}

void FileStager::Release(size_t index) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (index >= files_.size() || files_[index].released)
            return;
        files_[index].released = true;
        toDelete_.push_back(index);
    }
    SetEvent(work_.Get());
}

DWORD WINAPI FileStager::WriterProc(void* self) {
    static_cast<FileStager*>(self)->Work();
    return 0;
}

// Paths first (a copy needs every path before it starts), then the files in order, then the
// deletions of released files.
void FileStager::Work() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopping_) {
        if (nextPath_ < files_.size()) {
            const size_t index = nextPath_++;
            guard.unlock();
            MakePath(index);
        } else if (nextWrite_ < files_.size()) {
            const size_t index = nextWrite_++;
            guard.unlock();
            WriteFile(index);
        } else if (!toDelete_.empty()) {
            const size_t index = toDelete_.front();
            toDelete_.pop_front();
            guard.unlock();
            DeleteReleased(index);
        } else {
            guard.unlock();
            WaitForSingleObject(work_.Get(), INFINITE); // Add, Release and the destructor signal it
        }
        guard.lock();
    }
    guard.unlock();
    SetEvent(change_.Get());
}

void FileStager::MakePath(size_t index) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (files_[index].hasPath)
            return;
    }
    wchar_t folder[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    HRESULT hr = S_OK;
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameW(folder, prefix_.c_str(), 0, path))
        hr = LastError();
    {
        std::lock_guard<std::mutex> guard(lock_);
        File& file = files_[index];
        file.path = path;
        file.pathResult = hr;
        file.hasPath = true;
    }
    SetEvent(change_.Get());
}

void FileStager::WriteFile(size_t index) {
    std::wstring path;
    std::vector<uint8_t> data;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> guard(lock_);
        File& file = files_[index];
        path = file.path;
        data = std::move(file.data);
        hr = file.released ? E_ABORT : file.pathResult;
    }
    if (SUCCEEDED(hr)) {
        com::UniqueFileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out)
            hr = LastError();
        size_t done = 0;
        while (SUCCEEDED(hr) && done < data.size() && !stopping_) {
            const DWORD piece = static_cast<DWORD>(std::min(kWritePiece, data.size() - done));
            DWORD wrote = 0;
            if (!::WriteFile(out.Get(), data.data() + done, piece, &wrote, nullptr) || wrote != piece)
                hr = LastError();
            done += wrote;
        }
        if (SUCCEEDED(hr) && done < data.size())
            hr = E_ABORT;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        File& file = files_[index];
        file.writeResult = hr;
        file.written = true;
    }
    SetEvent(change_.Get());
}

void FileStager::DeleteReleased(size_t index) {
    std::wstring path;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const File& file = files_[index];
        if (!file.hasPath || FAILED(file.pathResult) || file.deleted)
            return;
        path = file.path;
    }
    const bool gone = DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    std::lock_guard<std::mutex> guard(lock_);
    files_[index].deleted = gone;
}

} // namespace tv
