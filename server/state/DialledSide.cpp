#include "server/state/DialledSide.h"

#include <cstring>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace velora::server::state {

void DialledSide::setLineInterfaces(std::vector<std::string> names)
{
    std::lock_guard lock(mutex_);
    line_ = std::move(names);
}

void DialledSide::addLineInterface(const std::string &name)
{
    if (name.empty())
        return;
    std::lock_guard lock(mutex_);
    for (const std::string &n : line_)
        if (n == name)
            return;
    line_.push_back(name);
}

bool DialledSide::lineInterface(const std::string &name) const
{
    // pppd's links, ours or another dialer's, face the provider.
    if (name.rfind("ppp", 0) == 0)
        return true;
    for (const std::string &n : line_)
        if (n == name)
            return true;
    return false;
}

void DialledSide::refresh()
{
    std::lock_guard lock(mutex_);
    readInterfaces();
}

void DialledSide::readInterfaces()
{
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0)
        return;
    nets_.clear();
    for (const ifaddrs *i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_name)
            continue;
        Net n;
        n.name = i->ifa_name;
        if (i->ifa_addr->sa_family == AF_INET) {
            const auto *a = reinterpret_cast<const sockaddr_in *>(i->ifa_addr);
            std::memcpy(n.address, &a->sin_addr, 4);
            if (i->ifa_netmask)
                std::memcpy(n.mask, &reinterpret_cast<const sockaddr_in *>(i->ifa_netmask)->sin_addr, 4);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            n.v6 = true;
            std::memcpy(n.address, &reinterpret_cast<const sockaddr_in6 *>(i->ifa_addr)->sin6_addr, 16);
            if (i->ifa_netmask)
                std::memcpy(n.mask, &reinterpret_cast<const sockaddr_in6 *>(i->ifa_netmask)->sin6_addr, 16);
        } else {
            continue;
        }
        nets_.push_back(n);
    }
    ::freeifaddrs(all);
}

int DialledSide::owner(bool v6, const std::uint8_t *address) const
{
    const std::size_t len = v6 ? 16 : 4;
    int best = -1;
    int bestBits = -1;
    for (std::size_t k = 0; k < nets_.size(); ++k) {
        const Net &n = nets_[k];
        if (n.v6 != v6)
            continue;
        bool inside = true;
        int bits = 0;
        for (std::size_t b = 0; b < len && inside; ++b) {
            inside = (address[b] & n.mask[b]) == (n.address[b] & n.mask[b]);
            bits += __builtin_popcount(n.mask[b]);
        }
        if (std::memcmp(address, n.address, len) == 0)
            return static_cast<int>(k);  // the address itself
        // A point-to-point link has a /32: the longest network wins.
        if (inside && bits > bestBits) {
            best = static_cast<int>(k);
            bestBits = bits;
        }
    }
    return best;
}

bool DialledSide::isDialled(const sockaddr *local)
{
    std::uint8_t address[16];
    bool v6 = false;
    if (local->sa_family == AF_INET) {
        std::memcpy(address, &reinterpret_cast<const sockaddr_in *>(local)->sin_addr, 4);
    } else if (local->sa_family == AF_INET6) {
        const auto &a6 = reinterpret_cast<const sockaddr_in6 *>(local)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a6)) {
            std::memcpy(address, a6.s6_addr + 12, 4);
        } else {
            v6 = true;
            std::memcpy(address, a6.s6_addr, 16);
        }
    } else {
        return false;
    }
    std::lock_guard lock(mutex_);
    int k = owner(v6, address);
    // An address on no network we know (the line's, raised a moment ago)
    // makes us look again; the status tick refreshes the rest.
    if (k < 0) {
        readInterfaces();
        k = owner(v6, address);
    }
    if (k < 0 || !lineInterface(nets_[static_cast<std::size_t>(k)].name))
        return false;
    lastInterface_ = nets_[static_cast<std::size_t>(k)].name;
    return true;
}

bool DialledSide::isDialledSocket(int fd)
{
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return false;
    return isDialled(reinterpret_cast<const sockaddr *>(&local));
}

std::string DialledSide::lastInterface() const
{
    std::lock_guard lock(mutex_);
    return lastInterface_;
}

}  // namespace velora::server::state
