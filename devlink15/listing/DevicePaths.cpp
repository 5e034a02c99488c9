#include "DevicePaths.h"

#include <algorithm>

namespace devlink15 {
namespace {

bool LabelTaken(const std::string& label, const ListingTexts& texts, const VolumeList& volumes) {
    return label == texts.mainLabel ||
           std::find(volumes.labels.begin(), volumes.labels.end(), label) != volumes.labels.end();
}

std::string DistinctLabel(const std::string& label, const ListingTexts& texts, const VolumeList& volumes) {
    if (!LabelTaken(label, texts, volumes))
        return label;
    for (int n = 2;; ++n) {
        std::string candidate = label + " (" + std::to_string(n) + ")";
        if (!LabelTaken(candidate, texts, volumes))
            return candidate;
    }
}

std::string BackslashesToSlashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

} // namespace

void ParseVolumeList(std::string_view reply, const ListingTexts& texts, VolumeList& volumes) {
    volumes.Clear();
    const std::string_view mainLine = "/default main_flash";
    const size_t main = reply.find(mainLine);
    // Past the main volume's line and its blank and line feed; without it from character 19.
    const size_t start = main == std::string_view::npos ? mainLine.size() : main + mainLine.size() + 1;
    std::string_view rest = start < reply.size() ? reply.substr(start) : std::string_view();
    while (true) {
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            break;
        const size_t lineFeed = rest.find('\n', slash);
        const std::string_view line =
            lineFeed == std::string_view::npos ? rest.substr(slash) : rest.substr(slash, lineFeed - slash);
        const size_t blank = line.find(' ');
        std::string name(line.substr(1, blank == std::string_view::npos ? std::string_view::npos : blank - 1));
        std::string label;
        if (blank != std::string_view::npos && lineFeed != std::string_view::npos && line.size() > blank + 1)
            label = std::string(line.substr(blank + 1, line.size() - blank - 2)); // without the closing blank
        if (name == "MP3") {
            label = texts.playerLabel;
            volumes.mediaPlayer = true;
        } else if (name == "a") {
            label = texts.playerLabel;
            volumes.mediaPlayer = false;
        }
        volumes.labels.push_back(DistinctLabel(label, texts, volumes));
        volumes.names.push_back(std::move(name));
        if (lineFeed == std::string_view::npos)
            break;
        rest = rest.substr(lineFeed + 1);
    }
}

std::string MapVolumeLabel(const std::string& label, const ListingTexts& texts, const VolumeList& volumes,
                           bool& mapped) {
    mapped = true;
    if (label == texts.mainLabel)
        return "default";
    for (size_t i = 0; i < volumes.labels.size() && i < volumes.names.size(); ++i) {
        if (volumes.labels[i] == label)
            return volumes.names[i];
    }
    mapped = false;
    return label;
}

bool MapToDevicePath(const std::string& path, const ListingTexts& texts, const VolumeList& volumes,
                     std::string& devicePath) {
    const size_t lastBackslash = path.rfind('\\');
    if (lastBackslash == std::string::npos) {
        devicePath = "/" + path;
        return true;
    }
    const std::string leaf = path.substr(lastBackslash + 1);
    const std::string folder = path.substr(0, lastBackslash);
    const size_t firstBackslash = folder.find('\\');
    bool mapped = false;
    const std::string volume = MapVolumeLabel(folder.substr(0, firstBackslash), texts, volumes, mapped);
    std::string rest = firstBackslash == std::string::npos ? std::string() : BackslashesToSlashes(folder.substr(firstBackslash));
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    devicePath = "/" + volume + rest + "/" + leaf;
    return mapped;
}

bool IsSafeConsolePath(std::string_view path) {
    return std::none_of(path.begin(), path.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return c == '"' || c == '$' || u < 0x20 || u == 0x7F;
    });
}

std::string InsertReplyPipe(const std::string& command) {
    std::string text = command;
    if (text.find(' ') == std::string::npos)
        text += ' ';
    const size_t blank = text.find(' ');
    return text.substr(0, blank) + " $pipe=15" + text.substr(blank);
}

bool ReplyReportsFailure(std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r' || reply.back() == ' '))
        reply.remove_suffix(1);
    const size_t lineFeed = reply.rfind('\n');
    const std::string_view last = lineFeed == std::string_view::npos ? reply : reply.substr(lineFeed + 1);
    return last == "fail";
}

long SysinfoValue(std::string_view reply, std::string_view key) {
    const size_t at = reply.find(key);
    if (at == std::string_view::npos)
        return 0;
    std::string_view value = reply.substr(at + key.size());
    const size_t colon = value.find(':');
    if (colon != std::string_view::npos)
        value = value.substr(colon + 1);
    const size_t digit = value.find_first_of("0123456789");
    if (digit == std::string_view::npos)
        return 0;
    // The value runs to the line feed, or to the end of a reply whose last line has none.
    const size_t lineFeed = value.find('\n', digit);
    return ParseClampedDecimal(value.substr(digit, lineFeed == std::string_view::npos ? std::string_view::npos
                                                                                      : lineFeed - digit));
}

bool FormatDeviceInfo(std::string_view reply, std::string& text) {
    text.clear();
    bool any = false;
    size_t start = 0;
    while (start <= reply.size()) {
        const size_t lineFeed = reply.find('\n', start);
        const std::string_view line = reply.substr(start, lineFeed == std::string_view::npos ? std::string_view::npos
                                                                                            : lineFeed - start);
        if (!line.empty()) {
            const size_t colon = line.find(':');
            std::string_view key = line.substr(0, colon);
            std::string_view value;
            if (colon != std::string_view::npos) {
                value = line.substr(colon + 1);
                value = value.substr(0, value.find(':'));
            }
            if (any)
                text += '|';
            text.append(key).append("=").append(value);
            any = true;
        }
        if (lineFeed == std::string_view::npos)
            break;
        start = lineFeed + 1;
    }
    return any;
}

} // namespace devlink15
