#include "DeviceNames.h"

namespace filesync {

bool IsSafeRelativeName(std::string_view name) {
    if (name.empty())
        return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find('\\', start);
        std::string_view part = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (char c : part) {
            if (c == ':' || c == '/' || c == '\0')
                return false;
        }
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

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
