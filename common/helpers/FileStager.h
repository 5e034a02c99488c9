// Files written on a thread of their own, one after another in the order they were handed
// over, so that a copy that reads them in that order (the hub's copy from the PC to a device,
// which runs on the hub's worker) can start with the first while the rest are still being
// written. The stager owns the files: each goes once it is released, the rest when the stager
// goes, unless it was told to leave them because a copy that may still read them has not ended.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tv {

class FileStager {
  public:
    // Files handed over without a path go to fresh temporary files of the user's temporary folder,
    // named by the system with `temporaryPrefix` (at most three characters).
    explicit FileStager(std::wstring temporaryPrefix = L"STG");
    // Stops writing after the piece being written and deletes every file not yet deleted (unless
    // LeaveFiles was called).
    ~FileStager();
    FileStager(const FileStager&) = delete;
    FileStager& operator=(const FileStager&) = delete;

    // Hands over a file with its whole content, to be written (replacing what is there) after the
    // files handed over before it: at `path`, or, when that is empty, at a fresh temporary file
    // that the stager's thread makes before it writes anything more. The first call starts that
    // thread; when it cannot start, its failure.
    HRESULT Add(std::wstring path, std::vector<uint8_t> data);
    size_t Count() const;
    // The waits dispatch this thread's messages; one thread waits at a time. E_ABORT when a quit
    // message ended the wait (it is posted again), E_INVALIDARG for an index never handed over.
    // Until file `index` (counted in the order of Add) has its path: the path and S_OK, or the
    // failure to make a temporary file.
    HRESULT WaitPath(size_t index, std::wstring& path);
    // Until file `index` has been written: the write's result.
    HRESULT WaitWritten(size_t index);
    // File `index` is read no more: the stager's thread deletes it (it is not written if it was
    // not yet).
    void Release(size_t index);
    // The files not yet deleted stay on the disk when the stager goes.
    void LeaveFiles() { leaveFiles_ = true; }

  private:
    struct File {
        std::wstring path;
        std::vector<uint8_t> data;
        bool hasPath = false;
        HRESULT pathResult = S_OK;
        bool written = false;
        HRESULT writeResult = S_OK;
        bool released = false;
        bool deleted = false;
    };
    static DWORD WINAPI WriterProc(void* self);
    void Work();
    void MakePath(size_t index);
    void WriteFile(size_t index);
    void DeleteReleased(size_t index);
    template <class Ready> HRESULT WaitFor(size_t index, Ready ready);

    const std::wstring prefix_;
    mutable std::mutex lock_;
    std::deque<File> files_; // a deque: references stay valid while files are added
    size_t nextPath_ = 0;    // the first file still without its path
    size_t nextWrite_ = 0;   // the first file not yet written
    std::deque<size_t> toDelete_;
    std::atomic<bool> stopping_{false};
    bool leaveFiles_ = false;
    com::UniqueHandle work_;   // auto-reset: something to do, or stop
    com::UniqueHandle change_; // auto-reset: a file got its path or was written, or the writer ended
    com::UniqueHandle thread_;
};

} // namespace tv
