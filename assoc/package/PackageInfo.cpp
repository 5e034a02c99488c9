#include "PackageInfo.h"

#include <climits>

namespace tv::package {
namespace {

constexpr std::string_view kPromptLine = "Ready >";

// Hands out the descriptor's lines one at a time; carriage returns do not count.
class LineReader {
public:
    explicit LineReader(std::string_view text) {
        rest_.reserve(text.size());
        for (char c : text)
            if (c != '\r')
                rest_.push_back(c);
    }

    // The next line without its line feed; an exhausted text gives empty lines.
    std::string Next() {
        const size_t end = rest_.find('\n', position_);
        std::string line;
        if (end == std::string::npos) {
            line = rest_.substr(position_);
            position_ = rest_.size();
        } else {
            line = rest_.substr(position_, end - position_);
            position_ = end + 1;
        }
        return line;
    }

private:
    std::string rest_;
    size_t position_ = 0;
};

std::string WithoutQuotes(const std::string& line) {
    std::string text;
    for (char c : line)
        if (c != '"')
            text.push_back(c);
    return text;
}

int ReadFlags(const std::string& line) {
    int flags = 0;
    for (const std::string& word : ReadWords(line)) {
        const int value = ReadLeadingNumber(word);
        if (value == 3)
            flags |= kPackageFlagThree;
        else if (value == 2)
            flags |= kPackageFlagTwo;
    }
    return flags;
}

} // namespace

int ReadLeadingNumber(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] < '0' || text[at] > '9'))
        ++at;
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

std::vector<std::string> ReadWords(std::string_view line) {
    std::vector<std::string> words;
    size_t at = 0;
    for (;;) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size())
            return words;
        if (line[at] == '"') {
            const size_t close = line.find('"', at + 1);
            const size_t end = close == std::string_view::npos ? line.size() : close;
            words.emplace_back(line.substr(at + 1, end - at - 1));
            at = close == std::string_view::npos ? line.size() : close + 1;
        } else {
            size_t end = at;
            while (end < line.size() && line[end] != ' ' && line[end] != '"')
                ++end;
            words.emplace_back(line.substr(at, end - at));
            at = end;
        }
    }
}

bool ParsePackageInfo(PackageInfo& info, std::string_view text, bool withNumbers) {
    info = PackageInfo{};
    LineReader lines(text);
    std::string line;
    // Each step reads its line and stops the parse at the prompt line.
    auto next = [&] {
        line = lines.Next();
        return line != kPromptLine;
    };
    if (!next())
        return true;
    info.title = WithoutQuotes(line);
    if (!next())
        return true;
    info.subtitle = WithoutQuotes(line);
    if (withNumbers) {
        if (!next())
            return true;
        info.firstNumber = ReadLeadingNumber(line);
        if (!next())
            return true;
        info.secondNumber = ReadLeadingNumber(line);
    }
    if (!next())
        return true;
    info.firstWords = ReadWords(line);
    if (!next())
        return true;
    info.secondWords = ReadWords(line);
    if (!next())
        return true;
    info.thirdText = line;
    if (!next())
        return true;
    info.version = line;
    if (!next())
        return true;
    info.requiredVersion = line;
    if (!next())
        return true;
    info.fourthText = line;
    if (!next())
        return true;
    info.thirdWords = ReadWords(line);
    if (!next())
        return true;
    info.flags = ReadFlags(line);
    return true;
}

} // namespace tv::package
