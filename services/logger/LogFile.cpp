#include "LogFile.h"
#include "HResult.h"
#include "MutexOwnership.h"
#include <cstdio>
#include <cstring>

namespace tv::logger {
namespace {

HRESULT WriteAll(HANDLE file, const char* bytes, size_t length) {
    while (length > 0) {
        const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr))
            return com::LastErrorHResult();
        if (written == 0)
            return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        bytes += written;
        length -= written;
    }
    return S_OK;
}

HRESULT MoveToEnd(HANDLE file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_END) ? S_OK : com::LastErrorHResult();
}

HRESULT EmptyWhenOversized(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        return com::LastErrorHResult();
    if (static_cast<ULONGLONG>(size.QuadPart) < kEmptyLogAtSize)
        return MoveToEnd(file);
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file))
        return com::LastErrorHResult();
    return S_OK;
}

} // namespace

std::string SharedLogPath() {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(ARRAYSIZE(temp), temp);
    if (length == 0 || length >= ARRAYSIZE(temp))
        return "\\Tavrilon.log";
    std::string folder = std::string(temp, length) + "Zelvan";
    CreateDirectoryA(folder.c_str(), nullptr); // usually exists already
    return folder + "\\Tavrilon.log";
}

std::string FormatHeaderLine(const SYSTEMTIME& t) {
    char line[96];
    std::snprintf(line, sizeof line, "\n\nLog started on %02d/%02d/%04d at %02d:%02d:%02d\n", t.wDay,
                  t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond);
    return line;
}

LogFile::LogFile(std::string path, std::wstring mutexName, DWORD mutexWaitMs)
    : path_(std::move(path)), mutexName_(std::move(mutexName)), mutexWaitMs_(mutexWaitMs) {}

HRESULT LogFile::OpenForWriting(com::UniqueFileHandle& file) const {
    file.Reset(CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? S_OK : E_FAIL;
}

HRESULT LogFile::Open() {
    mutex_.Reset(CreateMutexW(nullptr, FALSE, mutexName_.c_str()));
    if (!mutex_)
        return E_FAIL;
    MutexOwnership ownership(mutex_.Get(), mutexWaitMs_);
    if (!ownership.Owned())
        return E_FAIL;
    com::UniqueFileHandle file;
    TV_RETURN_IF_FAILED(OpenForWriting(file));
    TV_RETURN_IF_FAILED(EmptyWhenOversized(file.Get()));
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string header = FormatHeaderLine(now);
    return WriteAll(file.Get(), header.data(), header.size());
}

HRESULT LogFile::Append(const char* text) {
    if (!text)
        return E_INVALIDARG;
    if (!mutex_)
        return E_FAIL;
    MutexOwnership ownership(mutex_.Get(), mutexWaitMs_);
    if (!ownership.Owned())
        return E_FAIL;
    com::UniqueFileHandle file;
    TV_RETURN_IF_FAILED(OpenForWriting(file));
    TV_RETURN_IF_FAILED(MoveToEnd(file.Get()));
    return WriteAll(file.Get(), text, std::strlen(text));
}

} // namespace tv::logger
