// Fuzz target: arbitrary letters through the header reader, the MIME parser and the coders.
#include "MailCoders.h"
#include "MimeBody.h"
#include "MimeHeaders.h"
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    tv::mail::MailHeaders headers = tv::mail::ReadMailHeaders(text);
    tv::mail::ZvMimeBody body;
    body.Parse(headers.body);
    body.Parse(text);
    tv::mail::QuotedPrintableDecode(text);
    if (tv::mail::Base64Decode(tv::mail::Base64Encode(text)) != text)
        std::abort();
    tv::mail::Base64Decode(text);
    tv::mail::ZvMimeBody built;
    built.AddPlainText(text.substr(0, size / 2));
    built.AttachBytes("f", text.substr(size / 2));
    return 0;
}
