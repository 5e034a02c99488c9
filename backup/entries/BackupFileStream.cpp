#include "BackupFileStream.h"
#include "HResult.h"
#include <cstring>
#include <new>

namespace tv::backup {

HRESULT BackupFileStream::FromItem(const ZVFILEITEM& item, com::ComPtr<BackupFileStream>& out) {
    FILETIME time = {static_cast<DWORD>(item.nTimeLow), static_cast<DWORD>(item.nTimeHigh)};
    return Described(item.strName ? reinterpret_cast<const char*>(item.strName) : "",
                     static_cast<uint32_t>(item.nSize), time, static_cast<uint32_t>(item.attr), out);
}

HRESULT BackupFileStream::Described(const std::string& name, uint32_t size, const FILETIME& time,
                                    uint32_t attributes, com::ComPtr<BackupFileStream>& out) {
    HRESULT hr = com::MakeComObject(out);
    if (FAILED(hr))
        return hr;
    out->name_ = name;
    out->size_ = size;
    out->time_ = time;
    out->attributes_ = attributes;
    return S_OK;
}

BackupFileStream::~BackupFileStream() {
    file_.Reset();
    if (deleteOnRelease_ && !path_.empty()) {
        if (remover_)
            remover_->Remove(path_);
        else
            DeleteLocalFile(path_);
    }
}

void DeleteLocalFile(const std::string& path) {
    if (DeleteFileA(path.c_str()) || GetLastError() != ERROR_ACCESS_DENIED)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

HRESULT BackupFileStream::OpenFile(const std::string& path, std::shared_ptr<StagedFileRemover> remover) {
    com::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return E_FAIL;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || static_cast<uint64_t>(size.QuadPart) > UINT32_MAX)
        return E_FAIL;
    file_ = std::move(file);
    size_ = static_cast<uint32_t>(size.QuadPart);
    position_ = 0;
    path_ = path;
    fileBacked_ = true;
    deleteOnRelease_ = true;
    remover_ = std::move(remover);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    attributes_ = attributes == INVALID_FILE_ATTRIBUTES ? attributes_ : attributes;
    return S_OK;
}

STDMETHODIMP BackupFileStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (!pv)
        return E_POINTER;
    ULONG done = 0;
    HRESULT hr = S_OK;
    if (fileBacked_) {
        DWORD read = 0;
        if (file_ && !ReadFile(file_.Get(), pv, cb, &read, nullptr))
            hr = E_FAIL;
        done = read;
        position_ += read;
        if (SUCCEEDED(hr) && remover_ && position_ >= size_) {
            // Read to its end: the staged copy is no longer needed.
            file_.Reset();
            remover_->Remove(path_);
        }
    } else {
        if (source_) {
            // Asked once: straight into the reader's buffer when it takes the whole entry.
            DataSource source = std::move(source_);
            source_ = nullptr;
            if (position_ == 0 && cb >= size_) {
                hr = size_ ? source(static_cast<uint8_t*>(pv)) : S_OK;
                if (FAILED(hr))
                    return hr;
                position_ = size_;
                if (pcbRead)
                    *pcbRead = size_;
                return cb > size_ ? S_FALSE : S_OK;
            }
            try {
                buffer_.resize(size_);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            if (size_) {
                hr = source(buffer_.data());
                if (FAILED(hr)) {
                    buffer_.clear();
                    return hr;
                }
            }
        }
        const uint32_t left = position_ < buffer_.size() ? static_cast<uint32_t>(buffer_.size()) - position_ : 0;
        done = cb < left ? cb : left;
        if (done)
            std::memcpy(pv, buffer_.data() + position_, done);
        position_ += done;
    }
    if (pcbRead)
        *pcbRead = done;
    if (FAILED(hr))
        return hr;
    return done < cb ? S_FALSE : S_OK;
}

STDMETHODIMP BackupFileStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (fileBacked_)
        return E_FAIL;
    if (!pv && cb)
        return E_POINTER;
    source_ = nullptr;
    try {
        buffer_.assign(static_cast<const uint8_t*>(pv), static_cast<const uint8_t*>(pv) + cb);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    size_ = cb;
    position_ = 0;
    if (pcbWritten)
        *pcbWritten = cb;
    return S_OK;
}

void BackupFileStream::TakeSource(DataSource source) {
    buffer_.clear();
    position_ = 0;
    source_ = std::move(source);
}

STDMETHODIMP BackupFileStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg)
        return E_POINTER;
    std::memset(pstatstg, 0, sizeof(*pstatstg));
    if (!(grfStatFlag & STATFLAG_NONAME)) {
        const int chars = MultiByteToWideChar(CP_ACP, 0, name_.c_str(), -1, nullptr, 0);
        auto* wide = static_cast<wchar_t*>(CoTaskMemAlloc(static_cast<size_t>(chars > 0 ? chars : 1) * sizeof(wchar_t)));
        if (!wide)
            return STG_E_INSUFFICIENTMEMORY;
        wide[0] = L'\0';
        if (chars > 0)
            MultiByteToWideChar(CP_ACP, 0, name_.c_str(), -1, wide, chars);
        pstatstg->pwcsName = wide;
    }
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = size_;
    pstatstg->mtime = pstatstg->ctime = pstatstg->atime = time_;
    pstatstg->grfMode = 0;
    pstatstg->grfLocksSupported = LOCK_WRITE;
    pstatstg->grfStateBits = attributes_;
    return S_OK;
}

STDMETHODIMP BackupFileStream::Clone(IStream** ppstm) {
    if (!ppstm)
        return E_POINTER;
    return QueryInterface(IID_IStream, reinterpret_cast<void**>(ppstm));
}

HRESULT ReadWholeEntry(IStream* entry, uint32_t size, std::vector<uint8_t>& buffer) {
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    uint32_t done = 0;
    while (done < size) {
        ULONG read = 0;
        const HRESULT hr = entry->Read(buffer.data() + done, size - done, &read);
        if (FAILED(hr))
            return hr;
        if (read == 0)
            return E_FAIL; // the stream ended before its stated size
        done += read;
    }
    return S_OK;
}

} // namespace tv::backup
