// pppd's peer files and pap-/chap-secrets on any bytes: the readers do not
// crash, a quoted word reads back as itself, and a secret written is the
// one read back.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "server/dialup/entries/PppdSyntax.h"

using namespace velora::server::dialup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const auto words = optionWords(content);
    for (const auto &w : words) {
        if (w.begin > w.end || w.end > content.size())
            std::abort();
        const std::string quoted = quoteOptionWord(w.text);
        const auto back = optionWords(quoted);
        if (!w.text.empty() && (back.size() != 1 || back[0].text != w.text))
            std::abort();
    }
    parsePeerFile(
        content, [&](const std::string &) { return std::optional<std::string>(std::string(content)); },
        [](const std::string &name) { return name == "eth0"; });
    phoneFromChat(content);
    findSecret(content, "user", "*");
    const std::string written = withSecret(content, "fuzzuser", "fuzzpeer", std::string("s3cr\"et"));
    const auto secret = findSecret(written, "fuzzuser", "fuzzpeer");
    if (!secret || *secret != "s3cr\"et")
        std::abort();
    if (findSecret(withSecret(written, "fuzzuser", "fuzzpeer", std::nullopt), "fuzzuser", "fuzzpeer"))
        std::abort();
    return 0;
}
