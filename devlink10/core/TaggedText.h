// The tagged request texts of the port: "<Tag>|field|field|...". A field is the text between one
// "|" and the next; the "|" that closes one field opens the next.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zvport {

// The text between the first "<" and the first ">" (empty when ">" is missing); nothing when the
// text has no "<".
std::optional<std::string> ParseTag(std::string_view text);

enum class FieldParseResult : int {
    Ok = 0,
    MissingField = 3,
    UnknownType = 4,
};

struct ParsedFields {
    std::vector<std::string> strings;
    std::vector<int32_t> ints;
};

// Reads fields from the start of text as the type list asks: "str" a string, "int" a signed
// decimal number, "\n" a field that is read and dropped. Surplus fields are ignored.
FieldParseResult ParseFields(std::string_view text, std::string_view typeList, ParsedFields& out);

// The leading decimal number of a field (blanks and a sign allowed; no digits gives 0).
int32_t ParseFieldInt(std::string_view field);

// The field that follows marker: the text between the first "|" after it and the next "|".
std::optional<std::string> FieldAfter(std::string_view text, std::string_view marker);

} // namespace zvport
