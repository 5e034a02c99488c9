#include "DevicePath.h"

namespace tv::hub {

DevicePath SplitDevicePath(const char* path) {
    if (!path)
        return {};
    std::string text = path;
    if (!text.empty() && text.front() == '\\')
        text.erase(0, 1);
    size_t slash = text.find('\\');
    if (slash == std::string::npos)
        return {text, {}};
    return {text.substr(0, slash), text.substr(slash + 1)};
}

long ReduceDeviceError(HRESULT result) {
    auto value = static_cast<unsigned long>(result);
    if (value != 0 && (value >> 16) == 0x00A0)
        return static_cast<long>(value & 0xFFFF);
    return static_cast<long>(result);
}

} // namespace tv::hub
