#include "console_command.h"

#include <charconv>

namespace zvemu {
namespace {

struct Word {
    std::string text;
    bool quoted = false;
};

std::optional<std::vector<Word>> SplitWords(const std::string& line, std::string& error) {
    std::vector<Word> words;
    Word current;
    bool inWord = false;
    bool inQuotes = false;
    for (char c : line) {
        if (c == '"') {
            inQuotes = !inQuotes;
            current.quoted = true;
            inWord = true;
        } else if ((c == ' ' || c == '\t' || c == '\r' || c == '\n') && !inQuotes) {
            if (inWord)
                words.push_back(std::move(current));
            current = Word{};
            inWord = false;
        } else {
            current.text += c;
            inWord = true;
        }
    }
    if (inQuotes) {
        error = "unterminated quote";
        return std::nullopt;
    }
    if (inWord)
        words.push_back(std::move(current));
    return words;
}

std::optional<int> ParsePipeNumber(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 125)
        return std::nullopt;
    return value;
}

} // namespace

bool ConsoleCommand::HasOption(char letter) const {
    for (const auto& option : options) {
        if (option.size() > 1 && option[0] == '-' && option.find(letter, 1) != std::string::npos)
            return true;
    }
    return false;
}

std::optional<ConsoleCommand> ParseConsoleCommand(const std::string& line, std::string& error) {
    auto words = SplitWords(line, error);
    if (!words)
        return std::nullopt;
    if (words->empty()) {
        error = "empty command";
        return std::nullopt;
    }
    ConsoleCommand command;
    command.word = (*words)[0].text;
    for (size_t i = 1; i < words->size(); ++i) {
        const Word& w = (*words)[i];
        if (!w.quoted && w.text.starts_with("$")) {
            const auto equals = w.text.find('=');
            const std::string name = w.text.substr(0, equals);
            const auto number =
                equals == std::string::npos ? std::nullopt : ParsePipeNumber(w.text.substr(equals + 1));
            if ((name != "$pipe" && name != "$data_pipe") || !number) {
                error = "bad pipe option";
                return std::nullopt;
            }
            (name == "$pipe" ? command.replyPipe : command.dataPipe) = number;
        } else if (!w.quoted && (w.text.starts_with("-") || w.text.starts_with("+"))) {
            command.options.push_back(w.text);
        } else {
            command.args.push_back(w.text);
        }
    }
    return command;
}

} // namespace zvemu
