#include "MimeHeaders.h"
#include <cctype>
#include <utility>

namespace tv::mail {

namespace {

// One line from `pos`: ends at CR, LF or the end; a CR then LF is taken together.
std::string_view TakeLine(std::string_view text, size_t& pos) {
    size_t start = pos;
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        pos = text.size();
        return text.substr(start);
    }
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n')
        ++pos;
    return text.substr(start, end - start);
}

bool IsContinuation(std::string_view line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

} // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

MailHeaders ReadMailHeaders(std::string_view letter) {
    MailHeaders headers;
    std::string contentLines;
    bool contentType = false;
    size_t pos = 0;
    while (pos < letter.size()) {
        std::string_view first = TakeLine(letter, pos);
        if (first.empty())
            break;
        if (IsContinuation(first))
            continue; // a stray continuation before any field
        std::string line(first);
        // Join the continuation lines: the line break goes, the blank that folded it stays.
        while (pos < letter.size()) {
            size_t next = pos;
            std::string_view more = TakeLine(letter, next);
            if (!IsContinuation(more))
                break;
            line += more;
            pos = next;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string_view name = TrimBlanks(std::string_view(line).substr(0, colon));
        std::string value(TrimBlanks(std::string_view(line).substr(colon + 1)));
        if (EqualsNoCase(name, "MIME-Version"))
            headers.mime = true;
        else if (EqualsNoCase(name, "Return-Path"))
            headers.returnPath = std::move(value);
        else if (EqualsNoCase(name, "Message-Id"))
            headers.messageId = std::move(value);
        else if (EqualsNoCase(name, "Subject"))
            headers.subject = std::move(value);
        else if (EqualsNoCase(name, "From"))
            headers.from = std::move(value);
        else if (EqualsNoCase(name, "To"))
            headers.to = std::move(value);
        else if (EqualsNoCase(name, "Date"))
            headers.date = std::move(value);
        else if (StartsWithNoCase(name, "Content-")) {
            contentLines += line + "\r\n";
            contentType = contentType || EqualsNoCase(name, "Content-Type");
        }
    }
    std::string_view rest = letter.substr(pos);
    if (headers.mime) {
        // A MIME letter that names no content type is plain text (RFC 2045); its other content
        // lines, such as its transfer encoding, still apply.
        if (!contentType)
            contentLines = "Content-Type: text/plain\r\n" + contentLines;
        headers.body = contentLines + "\r\n" + std::string(rest);
    } else {
        headers.body = std::string(rest);
    }
    return headers;
}

} // namespace tv::mail
