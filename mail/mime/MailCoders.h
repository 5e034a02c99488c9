// The transfer codings of mail: Base64 (RFC 2045 alphabet, lines of 76 characters) and
// quoted-printable decoding.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tv::mail {

// Base64 of `length` bytes, broken by CR LF after every full line of 76 characters (so a
// result whose length is a multiple of 76 ends with CR LF), groups completed with "=".
std::string Base64Encode(const void* data, size_t length);
inline std::string Base64Encode(std::string_view bytes) { return Base64Encode(bytes.data(), bytes.size()); }

// The bytes of a Base64 text. Characters outside the alphabet and "=" are ignored; an "=" in
// the third place of a group ends the data after one byte, in the fourth after two; a final
// group of two or three characters without "=" gives one or two bytes.
std::string Base64Decode(std::string_view text);

// Quoted-printable: "=" and two hexadecimal digits (upper case) give that byte, "=" CR LF is a
// soft line break; everything else is copied as it stands.
std::string QuotedPrintableDecode(std::string_view text);

} // namespace tv::mail
