#include "DeviceNames.h"

namespace filesync {

std::vector<std::string> FolderLevels(std::string_view name) {
    std::vector<std::string> levels;
    for (size_t pos = name.find('\\'); pos != std::string_view::npos; pos = name.find('\\', pos + 1))
        levels.emplace_back(name.substr(0, pos));
    return levels;
}

std::string_view FirstComponent(std::string_view name) {
    return name.substr(0, name.find('\\'));
}

std::string_view LastComponent(std::string_view name) {
    size_t pos = name.rfind('\\');
    return pos == std::string_view::npos ? name : name.substr(pos + 1);
}

} // namespace filesync
