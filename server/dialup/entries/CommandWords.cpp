#include "server/dialup/entries/CommandWords.h"

namespace velora::server::dialup {

std::optional<std::vector<std::string>> splitCommand(std::string_view command)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t end = command.find('\'', i + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            word.append(command.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            bool closed = false;
            for (++i; i < command.size(); ++i) {
                if (command[i] == '"') {
                    closed = true;
                    break;
                }
                if (command[i] == '\\' && i + 1 < command.size() &&
                    (command[i + 1] == '"' || command[i + 1] == '\\'))
                    ++i;
                word += command[i];
            }
            if (!closed)
                return std::nullopt;
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

}  // namespace velora::server::dialup
