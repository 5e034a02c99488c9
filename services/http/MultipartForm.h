// The body of a file upload: form fields taken from the URL's query and the file, as one
// multipart/form-data body with a fixed boundary; and the reply header of the device-request
// convention (a 32-byte header starting "OK" for success).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv::http {

struct FormField {
    std::string name;
    std::string value;
};

// Splits "a=1&b=2" into fields. Each piece must split at "=" into exactly two parts; the
// collection stops at the first piece that does not (the fields before it are kept).
std::vector<FormField> ParseFormFields(std::string_view query);

// A name or file name made safe inside a quoted Content-Disposition parameter: the quote,
// carriage return and line feed become %22, %0D and %0A.
std::string EscapeDispositionText(std::string_view text);

// The whole body: each field with a non-empty name, then the file part, then the closing line.
std::string BuildMultipartBody(const std::vector<FormField>& fields, std::string_view fileName,
                               std::string_view fileBytes);

// The request headers added for that body.
std::string MultipartRequestHeaders(std::size_t bodyLength);

constexpr std::size_t kReplyHeaderLength = 32;

// True when a reply starts with a full header whose first two characters are "OK" in any case.
bool IsOkReply(const std::uint8_t* reply, std::size_t length);

} // namespace tv::http
