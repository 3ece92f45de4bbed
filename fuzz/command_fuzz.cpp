// The command driver's quoting: any command splits without a crash, and
// words quoted by the documented rules split back into the same words.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/dialup/entries/CommandWords.h"

using namespace velora::server::dialup;

namespace {
std::string doubleQuoted(const std::string &w)
{
    std::string q = "\"";
    for (const char c : w) {
        if (c == '"' || c == '\\')
            q += '\\';
        q += c;
    }
    return q + '"';
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view command(reinterpret_cast<const char *>(data), size);
    const auto words = splitCommand(command);
    if (!words)
        return 0;
    std::string again;
    for (const auto &w : *words)
        again += (again.empty() ? "" : " ") + doubleQuoted(w);
    const auto back = splitCommand(again);
    if (!back || *back != *words)
        std::abort();
    return 0;
}
