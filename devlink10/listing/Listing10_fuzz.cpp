// Feeds arbitrary replies to every text rule of the 1.0 generation's device replies.
#include "Listing10.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::string records;
    devlink10::ParseListingReply(reply.c_str(), &records);
    for (const auto& item : devlink10::SplitListingRecords(records)) {
        uint64_t time = 0;
        devlink10::ListingTimeToFileTime(item.dateTime, time);
        devlink10::ReadDecimal(item.size);
        devlink10::IsSystemFile(item.name);
    }
    devlink10::MediaList media;
    devlink10::ParseMediaList(reply, media);
    if (media.folders.size() != media.labels.size())
        __builtin_trap();
    std::string path;
    devlink10::ToDevicePath(reply, "Main", media, path);
    devlink10::ModelFromSysinfo(reply);
    devlink10::SysinfoValue(reply, "blocks_total");
    std::string cfg;
    if (devlink10::ParseCfgReply(reply, cfg) == devlink10::CfgResult::Ok) {
        devlink10::HardwareLetter(devlink10::HardwareField(cfg));
        devlink10::RfChannelField(cfg);
    }
    devlink10::VersionField(reply);
    devlink10::IsSafeDeviceName(reply);
    return 0;
}
