#include "server/traffic/LinuxInterfaceTable.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace velora::server::traffic {

namespace {

std::uint32_t readSpeedMbps(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buf[32];
    // A link without a figure (down, virtual) answers EINVAL here.
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    buf[n] = '\0';
    char *end = nullptr;
    const long long mbps = std::strtoll(buf, &end, 10);
    if (end == buf || mbps <= 0)
        return 0;
    const unsigned long long bps = static_cast<unsigned long long>(mbps) * 1000000ULL;
    return bps > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                           : static_cast<std::uint32_t>(bps);
}

template <typename Fn>
void forEachMessage(const char *data, std::size_t size, Fn fn)
{
    std::size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= size) {
        const auto *h = reinterpret_cast<const nlmsghdr *>(data + offset);
        if (h->nlmsg_len < sizeof(nlmsghdr) || offset + h->nlmsg_len > size)
            return;
        fn(h);
        offset += NLMSG_ALIGN(h->nlmsg_len);
    }
}

}  // namespace

LinuxInterfaceTable::LinuxInterfaceTable(std::string sysClassNet) : sysfs_(std::move(sysClassNet)) {}

LinuxInterfaceTable::~LinuxInterfaceTable()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool LinuxInterfaceTable::dump(int type, const void *body, std::size_t size, std::string &reply)
{
    reply.clear();
    if (fd_ < 0) {
        fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ < 0)
            return false;
    }
    char req[NLMSG_SPACE(64)] = {};
    auto *h = reinterpret_cast<nlmsghdr *>(req);
    h->nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(size));
    h->nlmsg_type = static_cast<unsigned short>(type);
    h->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    h->nlmsg_seq = ++seq_;
    std::memcpy(NLMSG_DATA(h), body, size);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, req, h->nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    thread_local std::string chunk(64 * 1024, '\0');
    for (;;) {
        const ssize_t n = ::recv(fd_, chunk.data(), chunk.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        bool done = false, failed = false;
        forEachMessage(chunk.data(), static_cast<std::size_t>(n), [&](const nlmsghdr *h) {
            if (h->nlmsg_seq != seq_)
                return;
            if (h->nlmsg_type == NLMSG_DONE)
                done = true;
            else if (h->nlmsg_type == NLMSG_ERROR)
                failed = true;
        });
        reply.append(chunk.data(), static_cast<std::size_t>(n));
        if (failed)
            return false;
        if (done || n == 0)
            return true;
    }
}

std::uint32_t LinuxInterfaceTable::speedOf(const std::string &name, std::uint32_t index,
                                           std::uint32_t carrierChanges)
{
    const auto it = speeds_.find(index);
    if (it != speeds_.end() && it->second.carrierChanges == carrierChanges && it->second.name == name)
        return it->second.speed;
    const std::uint32_t speed = readSpeedMbps(sysfs_ + "/" + name + "/speed");
    speeds_[index] = {carrierChanges, name, speed};
    return speed;
}

bool LinuxInterfaceTable::readLinks()
{
    thread_local std::string reply;
    const ifinfomsg body{};
    if (!dump(RTM_GETLINK, &body, sizeof body, reply))
        return false;
    links_.clear();
    forEachMessage(reply.data(), reply.size(), [&](const nlmsghdr *h) {
        if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_seq != seq_)
            return;
        const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(h));
        Link link;
        link.type = ifi->ifi_type;
        int len = static_cast<int>(IFLA_PAYLOAD(h));
        for (const rtattr *a = IFLA_RTA(ifi); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
            if (a->rta_type == IFLA_IFNAME)
                link.name = static_cast<const char *>(RTA_DATA(a));
            else if (a->rta_type == IFLA_CARRIER_CHANGES && RTA_PAYLOAD(a) >= sizeof(std::uint32_t))
                std::memcpy(&link.carrierChanges, RTA_DATA(a), sizeof link.carrierChanges);
        }
        links_[static_cast<std::uint32_t>(ifi->ifi_index)] = std::move(link);
    });
    readsSinceLinks_ = 0;
    return true;
}

bool LinuxInterfaceTable::read(std::vector<InterfaceRow> &rows)
{
    rows.clear();
    thread_local std::string stats, addrs;
    if_stats_msg body{};
    body.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    if (!dump(RTM_GETSTATS, &body, sizeof body, stats))
        return false;
    forEachMessage(stats.data(), stats.size(), [&](const nlmsghdr *h) {
        if (h->nlmsg_type != RTM_NEWSTATS || h->nlmsg_seq != seq_)
            return;
        const auto *m = static_cast<const if_stats_msg *>(NLMSG_DATA(h));
        InterfaceRow row;
        row.index = m->ifindex;
        const auto *a = reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(m) + NLMSG_ALIGN(sizeof *m));
        int len = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(NLMSG_ALIGN(sizeof *m)));
        for (; RTA_OK(a, len); a = RTA_NEXT(a, len))
            if (a->rta_type == IFLA_STATS_LINK_64 && RTA_PAYLOAD(a) >= sizeof(rtnl_link_stats64)) {
                rtnl_link_stats64 s;
                std::memcpy(&s, RTA_DATA(a), sizeof s);
                row.inOctets = s.rx_bytes;
                row.outOctets = s.tx_bytes;
            }
        rows.push_back(std::move(row));
    });

    // Names and types change only with the set of links, or by a rename.
    bool sameSet = rows.size() == links_.size() && ++readsSinceLinks_ < 16;
    for (std::size_t i = 0; sameSet && i < rows.size(); ++i)
        sameSet = links_.count(rows[i].index) != 0;
    if (!sameSet && !readLinks()) {
        rows.clear();
        return false;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        InterfaceRow &row = rows[i];
        const auto it = links_.find(row.index);
        if (it == links_.end())
            continue;  // came after the link dump: next time
        row.name = it->second.name;
        row.type = it->second.type;
        // The kernel has no figure for PPP; the line's connect speed stands in later.
        if (row.type != kArphrdPpp && row.type != ARPHRD_LOOPBACK)
            row.speed = speedOf(row.name, row.index, it->second.carrierChanges);
        if (kept != i)
            rows[kept] = std::move(row);
        ++kept;
    }
    rows.resize(kept);
    if (speeds_.size() > rows.size() * 2 + 16)
        speeds_.clear();

    const ifaddrmsg addrBody{AF_INET, 0, 0, 0, 0};
    if (!dump(RTM_GETADDR, &addrBody, sizeof addrBody, addrs))
        return true;  // counters without addresses are still worth having
    forEachMessage(addrs.data(), addrs.size(), [&](const nlmsghdr *h) {
        if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_seq != seq_)
            return;
        const auto *ifa = static_cast<const ifaddrmsg *>(NLMSG_DATA(h));
        if (ifa->ifa_family != AF_INET)
            return;
        const void *local = nullptr, *address = nullptr;
        int len = static_cast<int>(IFA_PAYLOAD(h));
        for (const rtattr *a = IFA_RTA(ifa); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
            if (a->rta_type == IFA_LOCAL)
                local = RTA_DATA(a);
            else if (a->rta_type == IFA_ADDRESS)
                address = RTA_DATA(a);
        }
        // On a point-to-point link IFA_ADDRESS is the peer; ours is IFA_LOCAL.
        const void *mine = local ? local : address;
        if (!mine)
            return;
        for (InterfaceRow &r : rows)
            if (r.index == ifa->ifa_index && r.address.empty()) {
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, mine, text, sizeof text);
                r.address = text;
            }
    });
    return true;
}

}  // namespace velora::server::traffic
