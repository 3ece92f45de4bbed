// config/phonebook.ini's whole-section edits on any bytes: they do not
// crash, and each edit does what it says when read back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/dialup/entries/PhonebookFile.h"

using namespace velora::server::dialup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const auto names = phonebook::sectionNames(content);
    for (const auto &name : names) {
        if (!phonebook::findSection(content, name))
            std::abort();
        if (phonebook::findSection(phonebook::removeSection(content, name), name))
            std::abort();
    }
    if (!names.empty()) {
        const std::string renamed = phonebook::renameSection(content, names.front(), "Fuzzed entry");
        if (!phonebook::findSection(renamed, "Fuzzed entry"))
            std::abort();
    }
    const std::string added =
        phonebook::appendSection(content, "Added entry", {{"phone", phonebook::quoteValue(" 0800 \"x\" ")}});
    if (!phonebook::findSection(added, "Added entry"))
        std::abort();
    return 0;
}
