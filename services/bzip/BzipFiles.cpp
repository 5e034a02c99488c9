#include "BzipFiles.h"
#include <windows.h>
#include <algorithm>
#include <vector>

namespace tv::bzip {

namespace {

// Full path of `path` and the folder part of it ("" when it has none).
bool SplitFullPath(const std::wstring& path, std::wstring& full, std::wstring& folder) {
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return false;
    std::vector<wchar_t> buffer(needed + 1);
    wchar_t* namePart = nullptr;
    DWORD written =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), &namePart);
    if (written == 0 || written >= buffer.size() || !namePart)
        return false;
    full.assign(buffer.data(), written);
    folder.assign(buffer.data(), static_cast<size_t>(namePart - buffer.data()));
    return true;
}

} // namespace

bool SourceFile::Open(const std::wstring& path) {
    file_.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return static_cast<bool>(file_);
}

bool SourceFile::Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) {
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
    if (!ReadFile(file_.Get(), buffer, wanted, &read, nullptr))
        return false;
    got = read;
    return true;
}

ReplacingDestinationFile::~ReplacingDestinationFile() {
    Discard();
}

bool ReplacingDestinationFile::Create(const std::wstring& path) {
    std::wstring folder;
    if (!SplitFullPath(path, destination_, folder) || folder.empty())
        return false;
    wchar_t temporary[MAX_PATH + 16] = {};
    if (folder.size() > MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), L"zvb", 0, temporary))
        return false;
    temporary_ = temporary;
    file_.Reset(CreateFileW(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file_) {
        Discard();
        return false;
    }
    return true;
}

bool ReplacingDestinationFile::Write(const std::uint8_t* data, std::size_t length) {
    DWORD written = 0;
    return WriteFile(file_.Get(), data, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

bool ReplacingDestinationFile::Commit() {
    if (!file_)
        return false;
    file_.Reset();
    if (!MoveFileExW(temporary_.c_str(), destination_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return false;
    temporary_.clear();
    return true;
}

void ReplacingDestinationFile::Discard() {
    file_.Reset();
    if (!temporary_.empty()) {
        DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }
}

} // namespace tv::bzip
