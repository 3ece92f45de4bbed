#include "server/dialup/lines/NetInterfaces.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velora::server::dialup {

namespace {

std::optional<std::string> readLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    return line;
}

std::optional<long long> readNumber(const std::string &path, int base)
{
    const auto text = readLine(path);
    if (!text || text->empty())
        return std::nullopt;
    try {
        std::size_t used = 0;
        const long long v = std::stoll(*text, &used, base);
        return used > 0 ? std::optional<long long>(v) : std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::string ipv4Of(const std::string &name)
{
    if (name.empty() || name.size() >= IFNAMSIZ)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    ifreq req{};
    std::memcpy(req.ifr_name, name.data(), name.size());
    std::string result;
    if (::ioctl(fd, SIOCGIFADDR, &req) == 0 && req.ifr_addr.sa_family == AF_INET) {
        sockaddr_in sin{};
        std::memcpy(&sin, &req.ifr_addr, sizeof sin);
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text))
            result = text;
    }
    ::close(fd);
    return result;
}

}  // namespace

bool NetInterfaces::connected(const std::string &name) const
{
    const auto i = find(name);
    return i && i->up && !i->ipv4.empty();
}

LinuxNetInterfaces::LinuxNetInterfaces(std::string sysClassNet) : root_(std::move(sysClassNet)) {}

std::vector<std::string> LinuxNetInterfaces::names() const
{
    std::vector<std::string> result;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(root_, ec))
        result.push_back(e.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

std::optional<NetInterface> LinuxNetInterfaces::find(const std::string &name) const
{
    // A name with a slash would leave the directory.
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return std::nullopt;
    const std::string dir = root_ + "/" + name;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        return std::nullopt;
    NetInterface i;
    i.name = name;
    i.type = static_cast<int>(readNumber(dir + "/type", 10).value_or(0));
    const long long flags = readNumber(dir + "/flags", 16).value_or(0);
    // PPP links report "unknown": they have no carrier of their own.
    const std::string oper = readLine(dir + "/operstate").value_or("");
    i.up = (flags & IFF_UP) != 0 && (oper == "up" || oper == "unknown");
    i.speedMbps = readNumber(dir + "/speed", 10).value_or(-1);
    i.index = static_cast<int>(readNumber(dir + "/ifindex", 10).value_or(0));
    i.ipv4 = ipv4Of(name);
    return i;
}

std::uint32_t bitsPerSecondFromMbps(std::int64_t mbps)
{
    if (mbps <= 0)
        return 0;
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    return mbps >= static_cast<std::int64_t>(kMax / 1000000) ? kMax
                                                             : static_cast<std::uint32_t>(mbps * 1000000);
}

}  // namespace velora::server::dialup
