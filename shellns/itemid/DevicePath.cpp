#include "DevicePath.h"
#include <cctype>

namespace tv::shellns {

DeviceParts SplitDevicePath(const std::string& path) {
    std::string text = path;
    if (!text.empty() && text[0] == '\\')
        text.erase(0, 1);
    size_t separator = text.find('\\');
    if (separator == std::string::npos)
        return {text, {}};
    return {text.substr(0, separator), text.substr(separator + 1)};
}

std::string JoinDevicePath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder + "\\" + name;
}

bool IsExportablePath(const std::string& path) {
    DeviceParts parts = SplitDevicePath(path);
    return !parts.device.empty() && parts.rest.find('\\') != std::string::npos;
}

bool HasNestedRest(const std::string& path) {
    DeviceParts parts = SplitDevicePath(path);
    return !parts.device.empty() && parts.rest.find_first_of("\\/") != std::string::npos;
}

std::string LastComponent(const std::string& path) {
    size_t at = path.rfind('\\');
    if (at == std::string::npos)
        at = path.rfind('/');
    return at == std::string::npos ? path : path.substr(at + 1);
}

namespace {
std::string Normalised(const std::string& path) {
    std::string text = path;
    if (!text.empty() && text[0] == '\\')
        text.erase(0, 1);
    while (!text.empty() && text.back() == '\\')
        text.pop_back();
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
} // namespace

bool IsSameOrBelow(const std::string& candidate, const std::string& folder) {
    const std::string a = Normalised(candidate), b = Normalised(folder);
    if (b.empty())
        return false;
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == '\\');
}

} // namespace tv::shellns
