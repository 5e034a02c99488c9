#include "SetNames.h"
#include "PcSafeName.h"

namespace tv::backup {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

} // namespace

std::wstring TrimSetName(std::wstring_view name) {
    size_t first = 0;
    size_t end = name.size();
    while (first < end && IsSpace(name[first]))
        ++first;
    while (end > first && IsSpace(name[end - 1]))
        --end;
    return std::wstring(name.substr(first, end - first));
}

SetNameProblem CheckSetName(std::wstring_view name, size_t folderLength) {
    for (wchar_t c : name)
        if (c < 0x20 || std::wstring_view(L"\\/:*?<>|\"").find(c) != std::wstring_view::npos)
            return SetNameProblem::kBadCharacter;
    if (name.empty())
        return SetNameProblem::kEmpty;
    // Folder, separator and a four-character suffix beside the name.
    if (name.size() + folderLength + 5 > kMaxSetPath)
        return SetNameProblem::kTooLong;
    return SetNameProblem::kNone;
}

std::wstring FormatSetName(std::wstring_view pattern, std::wstring_view deviceName, std::wstring_view date) {
    std::wstring out;
    int used = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == L'%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == L'%') {
                out += L'%';
                ++i;
                continue;
            }
            if (pattern[i + 1] == L's' && used < 2) {
                out += used++ == 0 ? deviceName : date;
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::wstring SetFilePath(std::wstring_view folder, std::wstring_view separator, std::wstring_view name,
                         std::wstring_view suffix) {
    std::wstring path(folder);
    path += separator;
    path += name;
    path += suffix;
    return path;
}

bool IsSafeEntryName(std::string_view name) {
    return name.size() <= kMaxEntryNameLength && portable::IsPcSafeRelativePath(name);
}

} // namespace tv::backup
