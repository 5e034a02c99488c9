// One console command line as the host sends it: a command word, then words separated by
// blanks. Double quotes group a word that holds blanks. "$pipe=N" names the pipe for the reply,
// "$data_pipe=N" the pipe for file data; words starting with "-" or "+" are options.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zvemu {

struct ConsoleCommand {
    std::string word;
    std::optional<int> replyPipe;
    std::optional<int> dataPipe;
    std::vector<std::string> options;
    std::vector<std::string> args;

    bool HasOption(char letter) const; // a "-" option word containing the letter
};

std::optional<ConsoleCommand> ParseConsoleCommand(const std::string& line, std::string& error);

} // namespace zvemu
