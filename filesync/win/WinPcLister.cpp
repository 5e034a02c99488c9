#include "WinPcLister.h"

#include "LocalFileTime.h"

#include <windows.h>

namespace tv::filesync {

namespace {

struct FindHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~FindHandle() {
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
};

} // namespace

WinPcLister::WinPcLister() : zoneKnown_(GetTimeZoneInformation(&zone_) != TIME_ZONE_ID_INVALID) {}

bool WinPcLister::List(const std::string& path, std::vector<::filesync::PcFolderEntry>& entries) {
    WIN32_FIND_DATAA data = {};
    FindHandle find;
    find.handle = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find.handle == INVALID_HANDLE_VALUE)
        return false;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        ::filesync::PcFolderEntry entry;
        entry.name = name;
        entry.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isSystem = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
        entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        uint64_t local = 0;
        if (UtcToLocalFileTime(FromFileTime(data.ftLastWriteTime), local, zoneKnown_ ? &zone_ : nullptr))
            entry.time = local;
        entries.push_back(std::move(entry));
    } while (FindNextFileA(find.handle, &data));
    return true;
}

} // namespace tv::filesync
