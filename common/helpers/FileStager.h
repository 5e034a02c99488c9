// Files written on a thread of their own, one after another in the order they were handed
// over, so that a copy that reads them in that order (the hub's copy from the PC to a device,
// which runs on the hub's worker) can start with the first while the rest are still being
// written. The stager owns the files: they are deleted when it goes, unless it was told to leave
// them because a copy that may still read them has not ended.
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
    FileStager();
    // Stops writing after the file being written and deletes every file handed over (unless
    // LeaveFiles was called).
    ~FileStager();
    FileStager(const FileStager&) = delete;
    FileStager& operator=(const FileStager&) = delete;

    // Hands over the file at `path` with its whole content, to be written (replacing what is
    // there) after the files handed over before it. The first call starts the writing thread;
    // when it cannot start, its failure (the path is the stager's all the same).
    HRESULT Add(std::wstring path, std::vector<uint8_t> data);
    size_t Count() const;
    // Waits, dispatching this thread's messages, until file `index` (counted in the order of Add)
    // has been written; the write's result. E_ABORT when a quit message ended the wait (it is
    // posted again), E_INVALIDARG for an index never handed over. One thread waits at a time.
    HRESULT WaitWritten(size_t index);
    // The files stay on the disk when the stager goes.
    void LeaveFiles() { leaveFiles_ = true; }

  private:
    struct Pending {
        std::wstring path;
        std::vector<uint8_t> data;
    };
    static DWORD WINAPI WriterProc(void* self);
    void WriteAll();

    mutable std::mutex lock_;
    std::deque<Pending> queue_;       // handed over, not yet written
    std::vector<std::wstring> paths_; // every file handed over
    std::vector<HRESULT> results_;    // of the files written so far, in order
    std::atomic<bool> stopping_{false};
    bool leaveFiles_ = false;
    com::UniqueHandle work_;    // auto-reset: something to write, or stop
    com::UniqueHandle written_; // auto-reset: a file was written, or the writer ended
    com::UniqueHandle thread_;
};

} // namespace tv
