#include "server/dialup/entries/EntryStore.h"

namespace velora::server::dialup {

bool isValidEntryName(const std::string &name)
{
    if (name.empty() || name.size() > 256)
        return false;
    const auto blank = [](unsigned char c) { return c <= 0x20; };
    if (blank(name.front()) || blank(name.back()))
        return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '[' || c == ']' || c == 0xE0 ||
            (c >= 0xE2 && c <= 0xE5))
            return false;
    }
    return true;
}

}  // namespace velora::server::dialup
