// The PC side of a listing: the entries of one folder from the file system, with last-write
// times as local file times by the rules of their own date and sizes in 64 bits.
#pragma once
#include "PcFolderScan.h"

#include <windows.h>

namespace tv::filesync {

// One lister serves one scan: the time zone in force is fetched once, when it is made.
class WinPcLister : public ::filesync::PcFolderLister {
public:
    WinPcLister();
    bool List(const std::string& path, std::vector<::filesync::PcFolderEntry>& entries) override;

private:
    TIME_ZONE_INFORMATION zone_ = {};
    bool zoneKnown_ = false;
};

} // namespace tv::filesync
