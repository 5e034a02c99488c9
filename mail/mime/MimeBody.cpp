#include "MimeBody.h"
#include "MailCoders.h"
#include "MimeHeaders.h"
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tv::mail {

namespace {

constexpr size_t kLongLine = 900;

std::string NextPartBoundary(int n) {
    return "----_=_NextPart_00" + std::to_string(n) + "_01C10958.F1642A10";
}

} // namespace

void ZvMimeBody::AddPlainText(std::string_view text) {
    if (!text_.empty() || text.empty())
        return;
    std::string converted;
    converted.reserve(text.size() + text.size() / 32);
    for (char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    size_t n = converted.size();
    size_t a = converted.find('\n');
    if (n < kLongLine || (a != std::string::npos && a < kLongLine && n - a < kLongLine)) {
        text_ = std::move(converted);
        return;
    }
    size_t split = kLongLine;
    for (size_t j = n; j-- > 0;) {
        if (j < kLongLine && n - j < kLongLine && converted[j] == ' ') {
            split = j;
            break;
        }
        if (n - j >= kLongLine)
            break;
    }
    text_ = converted.substr(0, split) + "\r\n" + converted.substr(split);
}

void ZvMimeBody::AttachBytes(std::string name, std::string_view bytes) {
    MimeAttachment attachment;
    attachment.name = std::move(name);
    attachment.data = Base64Encode(bytes);
    attachments_.push_back(std::move(attachment));
}

bool ZvMimeBody::AttachFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return false;
    size_t slash = path.find_last_of("\\/");
    AttachBytes(slash == std::string::npos ? path : path.substr(slash + 1), content.str());
    return true;
}

std::string ZvMimeBody::MultipartText() const {
    if (attachments_.empty())
        return text_;
    const std::string b0 = NextPartBoundary(0);
    const std::string b1 = NextPartBoundary(1);
    std::string out;
    out += "MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"" + b0 +
           "\"\r\n\r\nThis message is in MIME format. Since your mail reader does not understand\r\n"
           "this format, some or all of this message may not be legible.\r\n\r\n";
    out += "--" + b0 + "\r\nContent-Type: multipart/alternative;\r\n\tboundary=\"" + b1 + "\"\r\n\r\n";
    out += "--" + b1 + "\r\nContent-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n\r\n";
    out += text_ + "\r\n\r\n--" + b1 + "--\r\n\r\n";
    for (const MimeAttachment& attachment : attachments_) {
        out +=
            "--" + b0 + "\r\nContent-Type: application/octet-stream;\r\n\tname=\"" + attachment.name +
            "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n\tfilename=\"" +
            attachment.name + "\"\r\n\r\n";
        out += attachment.data + "\r\n\r\n";
    }
    out += "--" + b0 + "--";
    return out;
}

void ZvMimeBody::Parse(std::string_view body) {
    MimeParser parser;
    parser.Parse(body);
    text_ = parser.PlainText();
    attachments_ = parser.Attachments();
}

bool ZvMimeBody::StoreAttachment(size_t index, const std::string& path) const {
    if (index >= attachments_.size())
        return false;
    const MimeAttachment& attachment = attachments_[index];
    const std::string& encoding = attachment.encoding;
    std::string bytes;
    if (EqualsNoCase(encoding, "base64"))
        bytes = Base64Decode(attachment.data);
    else if (EqualsNoCase(encoding, "quoted-printable"))
        bytes = QuotedPrintableDecode(attachment.data);
    else
        bytes = attachment.data; // unencoded, or in an encoding we cannot decode: kept as it arrived
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close(); // what is still buffered must reach the disk too: a full disk shows here
    return !file.fail();
}

} // namespace tv::mail
