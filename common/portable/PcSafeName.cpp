#include "PcSafeName.h"

#include <string>
#include <type_traits>

namespace tv::portable {

namespace {

template <typename Char> Char AsciiUpper(Char c) { return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 'a' + 'A') : c; }

template <typename Char> bool IsReserved(std::basic_string_view<Char> component) {
    // The device is named by the part before the first dot, with trailing spaces ignored.
    std::basic_string_view<Char> base = component.substr(0, component.find(Char('.')));
    while (!base.empty() && base.back() == Char(' '))
        base.remove_suffix(1);
    if (base.size() != 3 && base.size() != 4)
        return false;
    char upper[4] = {};
    for (size_t i = 0; i < base.size(); ++i) {
        const Char c = AsciiUpper(base[i]);
        if (c < 0x20 || c > 0x7e)
            return false;
        upper[i] = static_cast<char>(c);
    }
    const std::string_view name(upper, base.size());
    if (name.size() == 3)
        return name == "CON" || name == "PRN" || name == "AUX" || name == "NUL";
    return (name.substr(0, 3) == "COM" || name.substr(0, 3) == "LPT") && name[3] >= '1' && name[3] <= '9';
}

template <typename Char> PcNameProblem CheckComponent(std::basic_string_view<Char> part) {
    if (part.empty())
        return PcNameProblem::kEmpty;
    if (part.size() == 1 && part[0] == Char('.'))
        return PcNameProblem::kDotComponent;
    if (part.size() == 2 && part[0] == Char('.') && part[1] == Char('.'))
        return PcNameProblem::kDotComponent;
    for (Char c : part) {
        const auto code = static_cast<std::make_unsigned_t<Char>>(c);
        if (code < 0x20 || code == 0x7f || (code < 0x80 && std::string_view("\\/:*?\"<>|").find(static_cast<char>(code)) !=
                                                             std::string_view::npos))
            return PcNameProblem::kBadCharacter;
    }
    if (part.back() == Char('.') || part.back() == Char(' '))
        return PcNameProblem::kTrailingDotOrSpace;
    if (IsReserved(part))
        return PcNameProblem::kReservedDeviceName;
    return PcNameProblem::kNone;
}

template <typename Char> PcNameProblem CheckPath(std::basic_string_view<Char> path) {
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(Char('\\'), start);
        const auto part = path.substr(start, end == path.npos ? path.npos : end - start);
        if (const PcNameProblem problem = CheckComponent(part); problem != PcNameProblem::kNone)
            return problem;
        if (end == path.npos)
            return PcNameProblem::kNone;
        start = end + 1;
    }
}

} // namespace

bool IsReservedDeviceName(std::string_view component) { return IsReserved(component); }
bool IsReservedDeviceName(std::wstring_view component) { return IsReserved(component); }
PcNameProblem CheckPcComponent(std::string_view component) { return CheckComponent(component); }
PcNameProblem CheckPcComponent(std::wstring_view component) { return CheckComponent(component); }
PcNameProblem CheckPcRelativePath(std::string_view path) { return CheckPath(path); }
PcNameProblem CheckPcRelativePath(std::wstring_view path) { return CheckPath(path); }

} // namespace tv::portable
