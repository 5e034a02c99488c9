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

FileStager::FileStager()
    : work_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      written_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FileStager::~FileStager() {
    if (thread_) {
        stopping_ = true;
        SetEvent(work_.Get());
        // The writer ends after at most one piece of the file it is writing.
        WaitForSingleObject(thread_.Get(), INFINITE);
    }
    if (!leaveFiles_)
        for (const std::wstring& path : paths_)
            DeleteFileW(path.c_str());
}

HRESULT FileStager::Add(std::wstring path, std::vector<uint8_t> data) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        paths_.push_back(path);
        queue_.push_back(Pending{std::move(path), std::move(data)});
    }
    if (!thread_) {
        if (!work_ || !written_)
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
    return paths_.size();
}

HRESULT FileStager::WaitWritten(size_t index) {
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (index >= paths_.size())
                return E_INVALIDARG;
            if (index < results_.size())
                return results_[index];
        }
        if (!thread_)
            return E_UNEXPECTED;
        // The writer signals after every file and ends only when the stager goes, so the wait
        // lasts no longer than the writing of the files before `index`.
        if (!WaitWithMessagePump(written_.Get(), INFINITE))
            return E_ABORT;
    }
}

DWORD WINAPI FileStager::WriterProc(void* self) {
    static_cast<FileStager*>(self)->WriteAll();
    return 0;
}

void FileStager::WriteAll() {
    for (;;) {
        Pending next;
        {
            std::unique_lock<std::mutex> guard(lock_);
            while (!stopping_ && queue_.empty()) {
                guard.unlock();
                WaitForSingleObject(work_.Get(), INFINITE); // Add and the destructor signal it
                guard.lock();
            }
            if (stopping_)
                break;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        HRESULT hr = S_OK;
        com::UniqueFileHandle file(CreateFileW(next.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            hr = LastError();
        size_t done = 0;
        while (SUCCEEDED(hr) && done < next.data.size() && !stopping_) {
            const DWORD piece = static_cast<DWORD>(std::min(kWritePiece, next.data.size() - done));
            DWORD wrote = 0;
            if (!WriteFile(file.Get(), next.data.data() + done, piece, &wrote, nullptr) || wrote != piece)
                hr = LastError();
            done += wrote;
        }
        if (SUCCEEDED(hr) && done < next.data.size())
            hr = E_ABORT;
        next.data = {};
        {
            std::lock_guard<std::mutex> guard(lock_);
            results_.push_back(hr);
        }
        SetEvent(written_.Get());
    }
    SetEvent(written_.Get());
}

} // namespace tv
