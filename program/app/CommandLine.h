// Reading the program's command line: the registration and start switches, the file-open mark
// and argument, and the command of a DDE execute request.
#pragma once
#include <string>

namespace tv::app {

enum class StartAction { Run, RegServer, UnregServer };

struct StartSwitches {
    StartAction action = StartAction::Run;
    bool splash = true;
};

// Scans for "-" or "/" and compares the rest of the line (case-insensitively) with
// "UnregServer", "RegServer", "Automation", "Embedding" and "NoSplash": a switch is recognised
// only as the last thing on the line. Scanning stops at the first of the first four.
StartSwitches ParseSwitches(const std::wstring& commandLine);

// "/FileOpen" anywhere in the full command line (case-sensitive).
bool HasFileOpenMark(const std::wstring& commandLine);

// The file named by a file-open start: every "/FileOpen" and every double quote removed, white
// space trimmed at both ends.
std::string FileOpenPath(const std::string& arguments);

// A DDE execute text of the form [Command(argument)]: the command between the first "[" and the
// first "(", the argument between that "(" and the last ")", one leading and one trailing
// double quote removed from the argument. False when any of the three characters is missing.
bool ParseDdeCommand(const std::string& text, std::string& command, std::string& argument);

} // namespace tv::app
