#include "SyncText.h"

namespace tv::sync {

std::vector<std::string> ParseSchedule(std::string_view stored) {
    std::vector<std::string> ids;
    size_t start = 0;
    for (size_t end = stored.find(';'); end != std::string_view::npos; end = stored.find(';', start)) {
        ids.emplace_back(stored.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

std::string JoinSchedule(const std::vector<std::string>& ids) {
    std::string stored;
    for (const std::string& id : ids) {
        stored += id;
        stored += ';';
    }
    return stored;
}

bool IsDeviceKeyName(std::string_view id) {
    return !id.empty() && id.find('\\') == std::string_view::npos;
}

bool ProgressPosition(std::uint32_t done, std::uint32_t total, std::int32_t range, std::int32_t& position) {
    if (total == 0 || range < 0)
        return false;
    const std::uint64_t scaled = static_cast<std::uint64_t>(done) * static_cast<std::uint64_t>(range) / total;
    position = scaled > static_cast<std::uint64_t>(range) ? range : static_cast<std::int32_t>(scaled);
    return true;
}

std::vector<std::pair<std::string, std::string>> SplitDeviceInfo(std::string_view info) {
    std::vector<std::pair<std::string, std::string>> items;
    while (!info.empty()) {
        const size_t bar = info.find('|');
        const std::string_view item = info.substr(0, bar);
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            break;
        items.emplace_back(std::string(item.substr(0, equals)), std::string(item.substr(equals + 1)));
        if (bar == std::string_view::npos)
            break;
        info.remove_prefix(bar + 1);
    }
    return items;
}

} // namespace tv::sync
