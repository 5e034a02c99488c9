#include "TaggedText.h"
#include <limits>

namespace zvport {
namespace {

// Reads the field that opens at or after pos; advances pos to the "|" that closes it.
std::optional<std::string_view> NextField(std::string_view text, size_t& pos) {
    size_t open = text.find('|', pos);
    if (open == std::string_view::npos)
        return std::nullopt;
    size_t close = text.find('|', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    pos = close;
    return text.substr(open + 1, close - open - 1);
}

} // namespace

std::optional<std::string> ParseTag(std::string_view text) {
    size_t open = text.find('<');
    if (open == std::string_view::npos)
        return std::nullopt;
    size_t close = text.find('>');
    if (close == std::string_view::npos || close < open)
        return std::string();
    return std::string(text.substr(open + 1, close - open - 1));
}

int32_t ParseFieldInt(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '-' || field[i] == '+'))
        negative = field[i++] == '-';
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > std::numeric_limits<int32_t>::max())
            value = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int32_t>::max())
        value = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

FieldParseResult ParseFields(std::string_view text, std::string_view typeList, ParsedFields& out) {
    size_t typePos = 0;
    size_t textPos = 0;
    while (auto type = NextField(typeList, typePos)) {
        if (*type != "str" && *type != "int" && *type != "\n")
            return FieldParseResult::UnknownType;
        auto field = NextField(text, textPos);
        if (!field)
            return FieldParseResult::MissingField;
        if (*type == "str")
            out.strings.emplace_back(*field);
        else if (*type == "int")
            out.ints.push_back(ParseFieldInt(*field));
    }
    return FieldParseResult::Ok;
}

std::optional<std::string> FieldAfter(std::string_view text, std::string_view marker) {
    size_t at = text.find(marker);
    if (at == std::string_view::npos)
        return std::nullopt;
    size_t pos = at + marker.size();
    auto field = NextField(text, pos);
    if (!field)
        return std::nullopt;
    return std::string(*field);
}

} // namespace zvport
