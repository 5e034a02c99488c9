#include "Win32FileIo.h"
#include "HResult.h"
#include "result_codes.h"
#include <algorithm>

namespace caparchive::win {
namespace {

constexpr DWORD kChunk = 1u << 20;

int LastError() {
    DWORD err = GetLastError();
    return err ? static_cast<int>(err) : kErrorReadFault;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return L".";
    if (slash == 0 || (slash == 2 && path[1] == L':'))
        return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

// Removes the temporary file unless the save went through.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!kept_)
            DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::wstring path_;
    bool kept_ = false;
};

} // namespace

int HandleSource::Open(const std::wstring& path) {
    file_.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
        return LastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.Get(), &size))
        return LastError();
    size_ = static_cast<uint64_t>(size.QuadPart);
    return kSuccess;
}

int HandleSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
    if (offset > size_ || out.size() > size_ - offset)
        return kErrorInvalidData;
    size_t done = 0;
    while (done < out.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - done, kChunk));
        OVERLAPPED at{};
        uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        if (!ReadFile(file_.Get(), out.data() + done, want, &got, &at))
            return LastError();
        if (got == 0)
            return kErrorReadFault;
        done += got;
    }
    return kSuccess;
}

int HandleSink::Write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kChunk));
        DWORD wrote = 0;
        if (!WriteFile(file_, bytes.data() + done, want, &wrote, nullptr)) {
            DWORD err = GetLastError();
            return err ? static_cast<int>(err) : kErrorWriteFault;
        }
        if (wrote == 0)
            return kErrorWriteFault;
        done += wrote;
    }
    return kSuccess;
}

HRESULT WriteWholeFile(const std::wstring& path, std::span<const uint8_t> bytes) {
    tv::com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return tv::com::LastErrorHResult();
    HandleSink sink(file.Get());
    int code = sink.Write(bytes);
    return code == kSuccess ? S_OK : HRESULT_FROM_WIN32(code);
}

HRESULT ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    HandleSource source;
    int code = source.Open(path);
    if (code != kSuccess)
        return HRESULT_FROM_WIN32(code);
    if (source.Size() > 0x7FFFFFFF)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    bytes.resize(static_cast<size_t>(source.Size()));
    code = source.ReadAt(0, bytes);
    if (code != kSuccess) {
        bytes.clear();
        return HRESULT_FROM_WIN32(code);
    }
    return S_OK;
}

HRESULT SaveAtomically(const std::wstring& path, const std::function<int(ByteSink&)>& write) {
    if (path.empty())
        return E_INVALIDARG;
    wchar_t temporary[MAX_PATH];
    if (!GetTempFileNameW(FolderOf(path).c_str(), L"cap", 0, temporary))
        return tv::com::LastErrorHResult();
    TemporaryFile guard(temporary);
    {
        tv::com::UniqueFileHandle file(CreateFileW(guard.Path().c_str(), GENERIC_WRITE, 0, nullptr,
                                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return tv::com::LastErrorHResult();
        HandleSink sink(file.Get());
        int code = write(sink);
        if (code != kSuccess)
            return HRESULT_FROM_WIN32(code);
        if (!FlushFileBuffers(file.Get()))
            return tv::com::LastErrorHResult();
    }
    if (!MoveFileExW(guard.Path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return tv::com::LastErrorHResult();
    guard.Keep();
    return S_OK;
}

} // namespace caparchive::win
