// Text helpers shared by every deliverable: validation of user-entered item names and
// splitting of a text at one separator. Both work on 8-bit text in the ANSI code page.
#pragma once
#include <string>
#include <vector>

namespace tv {

// A growable list of strings; its capacity starts at one and doubles when full.
class StringList {
public:
    StringList();
    void Append(std::string item);
    void Clear();
    size_t Count() const { return items_.size(); }
    const std::string& operator[](size_t i) const { return items_[i]; }
    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
};

// Trims white space (as the thread locale classes it) from both ends, then accepts 1 to 64
// bytes, each a letter or digit of the user's language or one of " _@". On success `name`
// holds the trimmed name; on failure it is left as it was.
bool ValidateItemName(std::string& name);

// Cuts `text` at every `separator` into `list` (emptied first): n separators give n + 1 pieces,
// empty ones included. An empty text gives an empty list; a null text gives false.
bool SplitString(const char* text, char separator, StringList& list);

} // namespace tv
