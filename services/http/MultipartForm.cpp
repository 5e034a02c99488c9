#include "MultipartForm.h"

namespace tv::http {

namespace {

constexpr std::string_view kDelimiter = "-----------------------------7d0b038a0aa4";

} // namespace

std::vector<FormField> ParseFormFields(std::string_view query) {
    std::vector<FormField> fields;
    if (query.empty())
        return fields;
    for (;;) {
        const std::size_t end = query.find('&');
        const std::string_view piece = query.substr(0, end);
        const std::size_t equals = piece.find('=');
        if (equals == std::string_view::npos || piece.find('=', equals + 1) != std::string_view::npos ||
            equals == 0 || equals + 1 == piece.size())
            break;
        fields.push_back({std::string(piece.substr(0, equals)), std::string(piece.substr(equals + 1))});
        if (end == std::string_view::npos)
            break;
        query.remove_prefix(end + 1);
    }
    return fields;
}

std::string EscapeDispositionText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '"':
            escaped += "%22";
            break;
        case '\r':
            escaped += "%0D";
            break;
        case '\n':
            escaped += "%0A";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string BuildMultipartBody(const std::vector<FormField>& fields, std::string_view fileName,
                               std::string_view fileBytes) {
    std::string body;
    for (const FormField& field : fields) {
        if (field.name.empty())
            continue;
        body += kDelimiter;
        body += "\r\nContent-Disposition: form-data; name=\"";
        body += EscapeDispositionText(field.name);
        body += "\";\r\n\r\n";
        body += field.value;
        body += "\r\n";
    }
    body += kDelimiter;
    body += "\r\nContent-Disposition: form-data; name=\"file1\"; filename=\"";
    body += EscapeDispositionText(fileName);
    body += "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    body += fileBytes;
    body += "\r\n";
    body += kDelimiter;
    body += "--\r\n";
    return body;
}

std::string MultipartRequestHeaders(std::size_t bodyLength) {
    return "Content-Type: multipart/form-data; boundary=---------------------------7d0b038a0aa4\r\n"
           "Content-Length: " +
           std::to_string(bodyLength) + "\r\n";
}

bool IsOkReply(const std::uint8_t* reply, std::size_t length) {
    if (!reply || length < kReplyHeaderLength)
        return false;
    return (reply[0] == 'O' || reply[0] == 'o') && (reply[1] == 'K' || reply[1] == 'k');
}

} // namespace tv::http
