#include "PcFolderScan.h"

#include <deque>
#include <limits>

namespace filesync {

std::vector<FileEntry> ScanPcFolder(Generation generation, PcFolderLister& lister, const std::string& folder) {
    std::vector<FileEntry> files;
    std::vector<PcFolderEntry> entries;
    if (!lister.List(folder, entries))
        return files;

    // Folders still to list, by their name relative to `folder`. An explicit queue keeps deep
    // trees off the call stack.
    std::deque<std::string> pending;
    for (const auto& entry : entries) {
        if (entry.isFolder && !entry.isLink)
            pending.push_back(entry.name);
    }
    while (!pending.empty()) {
        const std::string relative = std::move(pending.front());
        pending.pop_front();
        entries.clear();
        if (!lister.List(folder + "\\" + relative, entries))
            break;
        for (const auto& entry : entries) {
            const std::string name = relative + "\\" + entry.name;
            if (entry.isFolder) {
                if (generation == Generation::V15 && !entry.isLink)
                    pending.push_back(name);
                continue;
            }
            if (entry.isSystem)
                continue;
            const uint32_t size = entry.size > std::numeric_limits<uint32_t>::max()
                                      ? std::numeric_limits<uint32_t>::max()
                                      : static_cast<uint32_t>(entry.size);
            files.push_back(FileEntry{name, entry.time, 0, size});
        }
    }
    return files;
}

} // namespace filesync
