#include "common/TextLines.h"

namespace velora {

std::vector<std::string> splitTextLines(std::string_view content)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = content.size();
        lines.emplace_back(content.substr(start, end - start));
        if (end + 1 < content.size() && content[end] == '\r' && content[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

bool looksLikeText(std::string_view bytes)
{
    std::size_t line = 0;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\n') {
            line = 0;
            continue;
        }
        if ((u < 0x20 && u != '\r' && u != '\t') || ++line > 4096)
            return false;
    }
    return true;
}

}  // namespace velora
