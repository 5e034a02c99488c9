// Fuzzes the package reader and the linkers' entry lookup with hostile package files.
#include "package_container.h"
#include "package_entry_lookup.h"
#include "package_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace caparchive;
    const std::span<const uint8_t> file(data, size);
    MemorySource source(file);
    Package package;
    ReadPackage(source, package);

    PackageDirectory directory;
    if (ReadPackageDirectory(source, directory) == 0) {
        for (const ItemEntry& item : directory.items) {
            std::vector<uint8_t> bytes;
            ReadItemData(source, item, bytes);
        }
    }

    for (std::string_view name : {kRootInfName, kRootIconName, std::string_view("a")}) {
        EntryLayout layout;
        if (FindPackageEntry(file, name, layout) == 0 && layout.size <= (1u << 24)) {
            std::vector<uint8_t> bytes(layout.size);
            ReadEntryData(source, layout, bytes);
        }
    }
    return 0;
}
