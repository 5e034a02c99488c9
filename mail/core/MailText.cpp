#include "MailText.h"
#include <cctype>

namespace tv::mail {

namespace {

constexpr std::string_view kTerminator = "\r\n.\r\n";

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

std::string DotStuffMessage(std::string_view message) {
    std::string_view body = message;
    if (EndsWith(body, kTerminator))
        body.remove_suffix(kTerminator.size() - 2); // keep the CR LF that ends the last line
    else if (body == ".\r\n")
        body = {};
    std::string out;
    out.reserve(body.size() + body.size() / 64 + 8);
    bool lineStart = true;
    for (char c : body) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n';
    }
    if (!out.empty() && !EndsWith(out, "\r\n"))
        out += "\r\n";
    out += ".\r\n";
    return out;
}

std::string_view DotUnstuffLine(std::string_view line) {
    if (!line.empty() && line.front() == '.')
        line.remove_prefix(1);
    return line;
}

std::string DotUnstuffText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool lineStart = true;
    for (char c : text) {
        bool skip = lineStart && c == '.';
        lineStart = c == '\n';
        if (!skip)
            out += c;
    }
    return out;
}

bool IsSafeAddress(std::string_view address) {
    for (unsigned char c : address) {
        if (c < 0x20 || c == 0x7f || c == '<' || c == '>')
            return false;
    }
    return true;
}

std::optional<std::vector<std::string>> SplitRecipients(std::string_view list) {
    std::vector<std::string> recipients;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view part = TrimBlanks(list.substr(start, end - start));
        if (!part.empty()) {
            if (!IsSafeAddress(part))
                return std::nullopt;
            recipients.emplace_back(part);
        }
        start = end + 1;
    }
    return recipients;
}

std::optional<std::string> AngleAddress(std::string_view line) {
    size_t open = line.find('<');
    if (open == std::string_view::npos)
        return std::nullopt;
    size_t close = line.find('>', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    return std::string(line.substr(open + 1, close - open - 1));
}

bool HasReplyCode(std::string_view reply, std::string_view code) {
    return reply.size() >= 3 && reply.substr(0, 3) == code;
}

bool HasVerb(std::string_view line, std::string_view verb) {
    line = TrimBlanks(line);
    return EqualsNoCase(line.substr(0, line.find_first_of(" \t")), verb);
}

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace tv::mail
