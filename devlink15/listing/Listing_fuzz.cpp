// Feeds arbitrary replies to every parser of the device's listings and replies.
#include "DevicePaths.h"
#include "Listing.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const devlink15::ListingTexts texts{"Folder", "File", "Main", "Player"};
    std::vector<devlink15::ListingEntry> entries;
    devlink15::ParseListing(reply, texts, entries);
    devlink15::VolumeList volumes;
    devlink15::ParseVolumeList(reply, texts, volumes);
    if (volumes.names.size() != volumes.labels.size())
        __builtin_trap();
    std::string devicePath;
    devlink15::MapToDevicePath(reply, texts, volumes, devicePath);
    devlink15::SysinfoValue(reply, "blocks_total");
    std::string info;
    devlink15::FormatDeviceInfo(reply, info);
    devlink15::ParseListingTime(reply);
    return 0;
}
