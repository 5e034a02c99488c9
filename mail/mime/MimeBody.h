// The body of a letter as the mail synchronizer builds and reads it: a plain text and a list of
// attachments, made into one multipart message (attachments in Base64) or taken from a parsed
// one.
#pragma once
#include "MimeParser.h"
#include <string>
#include <vector>

namespace tv::mail {

class ZvMimeBody {
  public:
    // Sets the plain text (once: only while it is still empty): every LF becomes CR LF, and a
    // text that would give lines of 900 characters or more is split once near its middle.
    void AddPlainText(std::string_view text);
    // Adds the file's whole content as an attachment named after the file; a file that cannot
    // be read is skipped (false).
    bool AttachFile(const std::string& path);
    // The message text: the plain text alone without attachments, else the multipart body with
    // its MIME-Version and Content-Type header lines.
    std::string MultipartText() const;
    // Takes the plain text and the attachments of a received body.
    void Parse(std::string_view body);
    // Writes attachment `index` decoded to `path` (replacing a file there); an attachment in an
    // encoding other than Base64 or quoted-printable is written as it arrived. False when there is
    // no such attachment or the file cannot be written.
    bool StoreAttachment(size_t index, const std::string& path) const;

    const std::string& PlainText() const { return text_; }
    const std::vector<MimeAttachment>& Attachments() const { return attachments_; }
    // Adds an attachment from bytes already in memory (what AttachFile does after reading).
    void AttachBytes(std::string name, std::string_view bytes);

  private:
    std::string text_;
    std::vector<MimeAttachment> attachments_;
};

} // namespace tv::mail
