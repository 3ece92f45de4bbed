// The readers of files a person may have edited by hand: INI profile, tip
// file, user store lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "common/IniProfile.h"
#include "common/TipFile.h"
#include "server/users/UserStore.h"


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string content(reinterpret_cast<const char *>(data), size);
    for (const auto &tip : velora::parseTips(content))
        if (!tip.empty() && tip.back() != '\n')
            std::abort();

    const std::string path = "/tmp/velora-fuzz-" + std::to_string(::getpid()) + ".ini";
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    velora::IniProfile ini(path);
    ini.readString("server", "port", "225");
    ini.readInteger("general", "shutdownmode", 0);
    if (ini.writeString("dial", "pingip", "10.0.0.1") && ini.readString("dial", "pingip", "") != "10.0.0.1")
        std::abort();

    velora::server::users::UserStore users(path);
    users.updateuserlist();
    users.check("a", "97-");
    std::remove(path.c_str());
    return 0;
}
