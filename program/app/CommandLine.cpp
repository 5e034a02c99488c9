#include "CommandLine.h"
#include <windows.h>

namespace tv::app {

StartSwitches ParseSwitches(const std::wstring& commandLine) {
    StartSwitches switches;
    for (size_t at = commandLine.find_first_of(L"-/"); at != std::wstring::npos;
         at = commandLine.find_first_of(L"-/", at + 1)) {
        const wchar_t* rest = commandLine.c_str() + at + 1;
        if (lstrcmpiW(rest, L"UnregServer") == 0) {
            switches.action = StartAction::UnregServer;
            break;
        }
        if (lstrcmpiW(rest, L"RegServer") == 0) {
            switches.action = StartAction::RegServer;
            break;
        }
        if (lstrcmpiW(rest, L"Automation") == 0 || lstrcmpiW(rest, L"Embedding") == 0)
            break;
        if (lstrcmpiW(rest, L"NoSplash") == 0)
            switches.splash = false;
    }
    return switches;
}

bool HasFileOpenMark(const std::wstring& commandLine) { return commandLine.find(L"/FileOpen") != std::wstring::npos; }

std::string FileOpenPath(const std::string& arguments) {
    std::string text = arguments;
    static constexpr char kMark[] = "/FileOpen";
    for (size_t at; (at = text.find(kMark)) != std::string::npos;)
        text.erase(at, sizeof(kMark) - 1);
    std::erase(text, '"');
    static constexpr char kBlank[] = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlank);
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(kBlank);
    return text.substr(first, last - first + 1);
}

bool ParseDdeCommand(const std::string& text, std::string& command, std::string& argument) {
    const size_t open = text.find('[');
    const size_t paren = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || paren == std::string::npos || close == std::string::npos || paren < open ||
        close < paren)
        return false;
    command = text.substr(open + 1, paren - open - 1);
    argument = text.substr(paren + 1, close - paren - 1);
    if (!argument.empty() && argument.front() == '"')
        argument.erase(0, 1);
    if (!argument.empty() && argument.back() == '"')
        argument.pop_back();
    return true;
}

} // namespace tv::app
