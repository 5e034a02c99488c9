// The PC side of a listing: the entries of one folder from the file system, with last-write
// times as local file times by the rules of their own date and sizes in 64 bits.
#pragma once
#include "PcFolderScan.h"

namespace tv::filesync {

class WinPcLister : public ::filesync::PcFolderLister {
public:
    bool List(const std::string& path, std::vector<::filesync::PcFolderEntry>& entries) override;
};

} // namespace tv::filesync
