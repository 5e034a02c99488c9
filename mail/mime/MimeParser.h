// The MIME parser of received letters: finds the plain text (decoded) and the attachments in a
// letter body that starts with the letter's own content header lines (see MailHeaders::body).
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tv::mail {

struct MimeAttachment {
    std::string name;
    std::string data;     // the text as it stands in the message (Base64 text when built here)
    std::string encoding; // the transfer encoding; empty when the message names none
};

// A content-type value: the type, and its "boundary" and "name" parameters.
struct ContentType {
    std::string type;
    std::string boundary;
    std::string name;
};
ContentType ParseContentType(std::string_view value);

class MimeParser {
  public:
    void Parse(std::string_view body);

    const std::string& PlainText() const { return text_; }
    const std::vector<MimeAttachment>& Attachments() const { return attachments_; }
    bool Done() const { return done_; }

  private:
    struct PartHeaders {
        bool hasType = false;
        ContentType type;
        std::string encoding;
        std::string dispositionName;
        bool attachment = false; // Content-Disposition says attachment
        bool badEncoding = false; // two transfer-encoding lines
    };

    bool NextLogicalLine(std::string& line);
    bool IsBoundaryLine(std::string_view line) const;
    bool IsContentTypeLine(std::string_view line) const;
    // The header lines of a part up to its empty line; `first` is one already taken.
    PartHeaders ReadPartHeaders(const std::string* first);
    // False when parsing must stop.
    bool HandlePart(const PartHeaders& part);
    bool ReadText(const std::string& encoding);
    bool ExtractAttachment(const PartHeaders& part);
    void SkipEmptyLines();

    std::vector<std::string_view> lines_;
    size_t position_ = 0;
    std::string text_;
    bool done_ = false;
    std::vector<std::string> boundaries_;
    std::vector<MimeAttachment> attachments_;
};

} // namespace tv::mail
