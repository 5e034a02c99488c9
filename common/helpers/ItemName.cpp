#include "ItemName.h"
#include <windows.h>

namespace tv {

namespace {

constexpr size_t kMaxItemName = 64;

bool IsLocaleSpace(char c) {
    WORD type = 0;
    if (!GetStringTypeExA(GetThreadLocale(), CT_CTYPE1, &c, 1, &type))
        return false;
    return (type & C1_SPACE) != 0;
}

bool IsAllowedNameChar(char c) {
    return IsCharAlphaNumericA(c) || c == ' ' || c == '_' || c == '@';
}

} // namespace

StringList::StringList() { items_.reserve(1); }

void StringList::Append(std::string item) {
    if (items_.size() == items_.capacity()) {
        try {
            items_.reserve(items_.capacity() * 2);
        } catch (const std::bad_alloc&) {
            return; // a full list that cannot grow drops the element
        }
    }
    items_.push_back(std::move(item));
}

void StringList::Clear() { items_.clear(); }

bool ValidateItemName(std::string& name) {
    size_t first = 0, last = name.size();
    while (first < last && IsLocaleSpace(name[first]))
        ++first;
    while (last > first && IsLocaleSpace(name[last - 1]))
        --last;
    const size_t length = last - first;
    if (length == 0 || length > kMaxItemName)
        return false;
    for (size_t i = first; i < last; ++i) {
        if (!IsAllowedNameChar(name[i]))
            return false;
    }
    name = name.substr(first, length);
    return true;
}

bool SplitString(const char* text, char separator, StringList& list) {
    list.Clear();
    if (!text)
        return false;
    if (*text == '\0')
        return true;
    const char* start = text;
    for (;;) {
        const char* end = start;
        while (*end && *end != separator)
            ++end;
        list.Append(std::string(start, end));
        if (*end == '\0')
            break;
        start = end + 1;
    }
    return true;
}

} // namespace tv
