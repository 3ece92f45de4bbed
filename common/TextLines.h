#pragma once
// The lines of a text file: CR LF, a lone CR and a lone LF all end a line;
// text after the last line break is a line too.

#include <string>
#include <string_view>
#include <vector>

namespace velora {

std::vector<std::string> splitTextLines(std::string_view content);

// No control bytes but CR, LF and TAB, and no line over 4096 bytes: what a
// person wrote, in any 8-bit encoding.
bool looksLikeText(std::string_view bytes);

}  // namespace velora
