#pragma once
// The lines of a text file: CR LF, a lone CR and a lone LF all end a line;
// text after the last line break is a line too.

#include <string>
#include <string_view>
#include <vector>

namespace velora {

std::vector<std::string> splitTextLines(std::string_view content);

}  // namespace velora
