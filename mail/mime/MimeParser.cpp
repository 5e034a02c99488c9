#include "MimeParser.h"
#include "MailCoders.h"
#include "MimeHeaders.h"

namespace tv::mail {

namespace {

// The parameters after the first ";" of a header value, split at ";" outside double quotes;
// calls `take(name, value)` with the name trimmed and the value trimmed and unquoted.
template <class Take>
void ForEachParameter(std::string_view value, Take take) {
    size_t semicolon = value.find(';');
    if (semicolon == std::string_view::npos)
        return;
    std::string_view rest = value.substr(semicolon + 1);
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] == '"')
            quoted = !quoted;
        if (i < rest.size() && (rest[i] != ';' || quoted))
            continue;
        std::string_view parameter = rest.substr(start, i - start);
        start = i + 1;
        size_t equals = parameter.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view name = TrimBlanks(parameter.substr(0, equals));
        std::string_view text = TrimBlanks(parameter.substr(equals + 1));
        if (!text.empty() && text.front() == '"')
            text.remove_prefix(1);
        if (!text.empty() && text.back() == '"')
            text.remove_suffix(1);
        take(name, TrimBlanks(text));
    }
}

// The value of a header line after its first ":".
std::string_view HeaderValue(std::string_view line) {
    size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
}

bool IsHeader(std::string_view line, std::string_view name) {
    return StartsWithNoCase(line, name) && TrimBlanks(line.substr(name.size())).substr(0, 1) == ":";
}

} // namespace

ContentType ParseContentType(std::string_view value) {
    ContentType result;
    result.type = std::string(TrimBlanks(value.substr(0, value.find(';'))));
    ForEachParameter(value, [&](std::string_view name, std::string_view text) {
        if (EqualsNoCase(name, "boundary"))
            result.boundary = std::string(text);
        else if (EqualsNoCase(name, "name"))
            result.name = std::string(text);
    });
    return result;
}

bool MimeParser::NextLogicalLine(std::string& line) {
    if (position_ >= lines_.size())
        return false;
    line.assign(lines_[position_++]);
    while (position_ < lines_.size() && !lines_[position_].empty() &&
           (lines_[position_][0] == ' ' || lines_[position_][0] == '\t'))
        line += lines_[position_++];
    return true;
}

bool MimeParser::IsBoundaryLine(std::string_view line) const {
    std::string_view trimmed = TrimBlanks(line);
    if (trimmed.size() < 2 || trimmed.substr(0, 2) != "--")
        return false;
    for (const std::string& boundary : boundaries_) {
        std::string_view rest = trimmed.substr(2);
        if (EqualsNoCase(rest, boundary))
            return true;
        if (rest.size() == boundary.size() + 2 && EqualsNoCase(rest.substr(0, boundary.size()), boundary) &&
            rest.substr(boundary.size()) == "--")
            return true;
    }
    return false;
}

bool MimeParser::IsContentTypeLine(std::string_view line) const { return IsHeader(line, "Content-Type"); }

MimeParser::PartHeaders MimeParser::ReadPartHeaders(const std::string* first) {
    PartHeaders part;
    bool encodingSeen = false;
    auto take = [&](const std::string& line) {
        if (IsContentTypeLine(line)) {
            part.hasType = true;
            part.type = ParseContentType(HeaderValue(line));
        } else if (IsHeader(line, "Content-Transfer-Encoding")) {
            if (encodingSeen)
                part.badEncoding = true;
            encodingSeen = true;
            part.encoding = std::string(TrimBlanks(HeaderValue(line)));
        } else if (IsHeader(line, "Content-Disposition")) {
            std::string_view value = HeaderValue(line);
            part.attachment = EqualsNoCase(TrimBlanks(value.substr(0, value.find(';'))), "attachment");
            ForEachParameter(value, [&](std::string_view name, std::string_view text) {
                if (EqualsNoCase(name, "filename"))
                    part.dispositionName = std::string(text);
            });
        }
    };
    if (first)
        take(*first);
    std::string line;
    while (position_ < lines_.size() && !lines_[position_].empty() && NextLogicalLine(line))
        take(line);
    return part;
}

void MimeParser::SkipEmptyLines() {
    while (position_ < lines_.size() && lines_[position_].empty())
        ++position_;
}

bool MimeParser::ReadText(const std::string& encoding) {
    SkipEmptyLines();
    std::string part;
    bool ended = false;
    while (position_ < lines_.size()) {
        std::string_view line = lines_[position_];
        if (IsBoundaryLine(line)) {
            ended = true;
            break;
        }
        part.append(line);
        part += "\r\n";
        ++position_;
    }
    if (EqualsNoCase(encoding, "quoted-printable"))
        text_ += QuotedPrintableDecode(part);
    else if (EqualsNoCase(encoding, "base64"))
        text_ += Base64Decode(part);
    else
        text_ += part;
    return ended;
}

bool MimeParser::ExtractAttachment(const PartHeaders& part) {
    if (part.badEncoding)
        return false;
    SkipEmptyLines();
    if (position_ >= lines_.size())
        return false;
    bool base64 = EqualsNoCase(part.encoding, "base64");
    std::string data;
    bool first = true;
    while (position_ < lines_.size()) {
        std::string_view line = lines_[position_];
        if (IsBoundaryLine(line) || (base64 && line.empty()))
            break;
        if (!first)
            data += "\r\n";
        data.append(line);
        first = false;
        ++position_;
    }
    MimeAttachment attachment;
    attachment.name = part.type.name.empty() ? part.dispositionName : part.type.name;
    attachment.data = std::move(data);
    attachment.encoding = part.encoding;
    attachments_.push_back(std::move(attachment));
    return true;
}

bool MimeParser::HandlePart(const PartHeaders& part) {
    const ContentType& type = part.type;
    if (!type.boundary.empty())
        boundaries_.push_back(type.boundary);
    if (StartsWithNoCase(type.type, "multipart/")) {
        return true; // its parts follow
    }
    bool plainText = !part.hasType || EqualsNoCase(type.type, "text/plain");
    if (plainText && !part.attachment && type.name.empty()) {
        ReadText(part.encoding);
        return true;
    }
    return ExtractAttachment(part);
}

void MimeParser::Parse(std::string_view body) {
    lines_.clear();
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string_view::npos)
            end = body.size();
        std::string_view line = body.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines_.push_back(line);
        start = end + 1;
    }
    position_ = 0;
    std::string line;
    while (NextLogicalLine(line)) {
        if (line.empty())
            continue;
        PartHeaders part;
        if (IsContentTypeLine(line)) {
            part = ReadPartHeaders(&line);
        } else if (IsBoundaryLine(line) && TrimBlanks(line).substr(TrimBlanks(line).size() - 2) != "--") {
            part = ReadPartHeaders(nullptr);
        } else {
            continue;
        }
        if (!HandlePart(part))
            return;
    }
    done_ = true;
}

} // namespace tv::mail
