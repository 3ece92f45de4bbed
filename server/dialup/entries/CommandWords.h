#pragma once
// The command words an entry stores (a connect or disconnect command), run
// without a shell.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velora::server::dialup {

// Splits a command into its words without a shell: blanks separate words;
// "..." groups and inside it \" and \\ stand for " and \; '...' groups
// literally; outside quotes a backslash takes the next character as it is.
// Nothing else is special. Nothing on an unmatched quote.
std::optional<std::vector<std::string>> splitCommand(std::string_view command);

}  // namespace velora::server::dialup
