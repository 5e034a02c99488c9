#include "PcFolderScan.h"

#include <gtest/gtest.h>

#include <map>

using namespace filesync;

namespace {

class TableLister : public PcFolderLister {
public:
    std::map<std::string, std::vector<PcFolderEntry>> folders;
    bool List(const std::string& path, std::vector<PcFolderEntry>& entries) override {
        auto it = folders.find(path);
        if (it == folders.end())
            return false;
        entries = it->second;
        return true;
    }
};

PcFolderEntry File(const std::string& name, uint64_t size = 1, bool system = false) {
    return PcFolderEntry{name, false, system, false, 5, size};
}
PcFolderEntry Folder(const std::string& name, bool link = false) {
    return PcFolderEntry{name, true, false, link, 0, 0};
}

std::vector<std::string> Names(const std::vector<FileEntry>& files) {
    std::vector<std::string> names;
    for (const auto& file : files)
        names.push_back(file.name);
    return names;
}

TableLister Tree() {
    TableLister lister;
    lister.folders["R"] = {File("top"), Folder("A"), Folder("L", true)};
    lister.folders["R\\A"] = {File("f"), File("sys", 1, true), Folder("B")};
    lister.folders["R\\A\\B"] = {File("g", 1ull << 32)};
    lister.folders["R\\L"] = {File("loop")};
    return lister;
}

} // namespace

TEST(PcFolderScan, DepthDependsOnTheGenerationAndRootFilesAreIgnored) {
    TableLister lister = Tree();
    EXPECT_EQ(Names(ScanPcFolder(Generation::V10, lister, "R")), (std::vector<std::string>{"A\\f"}));
    const auto files = ScanPcFolder(Generation::V15, lister, "R");
    EXPECT_EQ(Names(files), (std::vector<std::string>{"A\\f", "A\\B\\g"}));
    EXPECT_EQ(files[1].size, 0xFFFFFFFFu); // a file of 4 GiB is not taken for an empty one
    EXPECT_EQ(files[0].time, 5u);
}

TEST(PcFolderScan, AnUnlistableFolderEndsTheScanWithWhatWasGathered) {
    TableLister lister = Tree();
    lister.folders.erase("R\\A\\B");
    EXPECT_EQ(Names(ScanPcFolder(Generation::V15, lister, "R")), (std::vector<std::string>{"A\\f"}));
    lister.folders.erase("R");
    EXPECT_TRUE(ScanPcFolder(Generation::V15, lister, "R").empty());
}
