// Listing the PC side: the synchronization root's subfolders and the files below them, through
// a small lister interface (the Windows side reads the file system, tests a table).
#pragma once
#include "SyncTypes.h"
#include "TransferRules.h"

#include <cstdint>
#include <string>
#include <vector>

namespace filesync {

struct PcFolderEntry {
    std::string name; // the entry's own name, no path
    bool isFolder = false;
    bool isSystem = false;
    bool isLink = false; // a junction or symbolic link: never descended into
    uint64_t time = 0;   // last-write time as a local file time
    uint64_t size = 0;
};

class PcFolderLister {
public:
    virtual ~PcFolderLister() = default;
    // The entries of the folder at `path` ("." and ".." left out); false when it cannot be listed.
    virtual bool List(const std::string& path, std::vector<PcFolderEntry>& entries) = 0;
};

// Files directly in `folder` are ignored; each subfolder is searched: 1.0 takes the files
// directly in it, 1.5 the files at any depth below it. System files are skipped. Names are
// relative to `folder`. Sizes above 32 bits are kept as 0xFFFFFFFF so such a file is still seen
// (and refused when it is to be sent) rather than taken for a small one. A folder that cannot
// be listed ends the scan with what was gathered.
std::vector<FileEntry> ScanPcFolder(Generation generation, PcFolderLister& lister, const std::string& folder);

} // namespace filesync
