#include "UploadDestination.h"

namespace tv::uploader {

std::string PcFileName(const std::string& pcPath) {
    size_t cut = pcPath.find_last_of('\\');
    if (cut == std::string::npos)
        cut = pcPath.find_last_of('/');
    return cut == std::string::npos ? pcPath : pcPath.substr(cut + 1);
}

UploadDestination BuildUploadDestination(const std::string& folder, const std::string& pcPath) {
    std::string chosen = folder;
    const size_t open = chosen.rfind('[');
    const size_t close = chosen.rfind(']');
    if (open != std::string::npos && close != std::string::npos && open < close)
        chosen.erase(open, close - open + 1);
    UploadDestination destination;
    destination.path = chosen + "\\" + PcFileName(pcPath);
    destination.deviceName = destination.path.substr(0, destination.path.find('\\'));
    return destination;
}

} // namespace tv::uploader
