#pragma once
// Windows-1252 <-> UTF-8 at the edges where texts are shown or typed, and
// the clean-up of typed text before it reaches the wire or a file.

#include <string>
#include <string_view>

namespace velora {

std::string cp1252ToUtf8(std::string_view bytes);
// Characters that Windows-1252 lacks, and malformed UTF-8, become '?'.
std::string utf8ToCp1252(std::string_view utf8);

// Removes the five separator bytes, CR and LF from Windows-1252 text.
std::string sanitizeTyped(std::string_view cp1252);
// What a person typed (UTF-8), ready for the wire or a file.
std::string typedToWire(std::string_view utf8);

// Blanks (bytes up to 0x20) trimmed at both ends.
std::string trimBlanks(std::string_view text);

}  // namespace velora
