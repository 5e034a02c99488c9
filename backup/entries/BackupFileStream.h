// One device file in transit between a backuper and the backup manager: a read-only stream over
// a staged local file (deleted with the last reference), or a stream held in memory that takes
// its content in one Write or reads it from the object that holds it.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "StagedFiles.h"
#include "ZvDevice.h"
#include <objidl.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tv::backup {

class BackupFileStream : public com::ComObject<BackupFileStream, IStream> {
public:
    // An entry described by a device listing; its data comes from OpenFile or Write.
    static HRESULT FromItem(const ZVFILEITEM& item, com::ComPtr<BackupFileStream>& out);
    // A memory-held entry with a name, size, file time and device attribute word, no data yet.
    static HRESULT Described(const std::string& name, uint32_t size, const FILETIME& time, uint32_t attributes,
                             com::ComPtr<BackupFileStream>& out);

    // Reads the data from the local file `path` from now on; the file is deleted with the last
    // reference. The entry's size becomes the file's: a device file that changed between its
    // listing and its copy is taken as it was copied. E_FAIL when it cannot be opened.
    // With a remover, the file goes to it as soon as its last byte is read (the stream is read
    // once, from its start), and with the last reference at the latest.
    HRESULT OpenFile(const std::string& path, std::shared_ptr<StagedFileRemover> remover = nullptr);
    // Fills `out` with the entry's whole data (its stated size); the source of an entry whose
    // data is held elsewhere. It is asked once, at the first Read: a reader that asks for the
    // whole entry at once gets it straight into its buffer. The source goes once it is asked.
    using DataSource = std::function<HRESULT(uint8_t* out)>;
    void TakeSource(DataSource source);

    const std::string& Name() const { return name_; }

    // ISequentialStream
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    STDMETHODIMP Clone(IStream** ppstm) override;

    ~BackupFileStream() override;

private:
    com::UniqueFileHandle file_;
    std::string name_;
    std::string path_;
    FILETIME time_ = {};
    uint32_t size_ = 0;
    uint32_t position_ = 0;
    uint32_t attributes_ = 0;
    bool fileBacked_ = false;
    bool deleteOnRelease_ = false;
    std::vector<uint8_t> buffer_;
    std::shared_ptr<StagedFileRemover> remover_;
    DataSource source_;
};

// Deletes a local file; a read-only mark is cleared first only when it is in the way.
void DeleteLocalFile(const std::string& path);

// Reads exactly `size` bytes of an entry into `buffer`; E_FAIL when the entry ends early.
HRESULT ReadWholeEntry(IStream* entry, uint32_t size, std::vector<uint8_t>& buffer);

} // namespace tv::backup
