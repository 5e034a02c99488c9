// The header lines of a received letter: the fields the mail synchronizer keeps, whether the
// letter is MIME, and the body.
#pragma once
#include "MailText.h"
#include <string>
#include <string_view>

namespace tv::mail {

struct MailHeaders {
    std::string returnPath;
    std::string messageId;
    std::string subject;
    std::string from;
    std::string to;
    std::string date;
    // For a MIME letter its content header lines (unfolded, each ending in CR LF; a letter without
    // a Content-Type line gets "Content-Type: text/plain" first), an empty line and the text after
    // the headers, so that the MIME parser sees the letter's own content type; for any other
    // letter the text after the headers.
    std::string body;
    bool mime = false; // a MIME-Version line was found
};

// Reads the header lines up to the first empty line (or the end). Field names are compared
// without case; continuation lines (beginning with a blank or a tab) are joined to their field.
// A later line of a field overwrites an earlier one.
MailHeaders ReadMailHeaders(std::string_view letter);

bool StartsWithNoCase(std::string_view text, std::string_view prefix);

} // namespace tv::mail
