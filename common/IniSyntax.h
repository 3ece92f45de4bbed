#pragma once
// The line syntax of profile (INI) files, for every reader of such a file.

#include <optional>
#include <string_view>

namespace velora::ini {

// Blanks and tabs trimmed at both ends, and a CR at the end.
std::string_view trim(std::string_view s);
// Section and key names compare without regard to ASCII case.
bool equalsNoCase(std::string_view a, std::string_view b);
// The section name of a "[name]" line; nothing for any other line.
std::optional<std::string_view> sectionOf(std::string_view line);

}  // namespace velora::ini
