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

bool LinuxInterfaceTable::dump(int type, unsigned char family, std::string &reply)
{
    reply.clear();
    if (fd_ < 0) {
        fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ < 0)
            return false;
    }
    struct {
        nlmsghdr h;
        rtgenmsg g;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
    req.h.nlmsg_type = static_cast<unsigned short>(type);
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.h.nlmsg_seq = ++seq_;
    req.g.rtgen_family = family;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &req, req.h.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
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

bool LinuxInterfaceTable::read(std::vector<InterfaceRow> &rows)
{
    rows.clear();
    thread_local std::string links, addrs;
    if (!dump(RTM_GETLINK, AF_UNSPEC, links)) {
        rows.clear();
        return false;
    }
    std::vector<std::uint32_t> carriers;
    forEachMessage(links.data(), links.size(), [&](const nlmsghdr *h) {
        if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_seq != seq_)
            return;
        const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(h));
        InterfaceRow row;
        row.index = static_cast<std::uint32_t>(ifi->ifi_index);
        row.type = ifi->ifi_type;
        std::uint32_t carrierChanges = 0;
        bool have64 = false;
        int len = static_cast<int>(IFLA_PAYLOAD(h));
        for (const rtattr *a = IFLA_RTA(ifi); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
            switch (a->rta_type) {
            case IFLA_IFNAME:
                row.name = static_cast<const char *>(RTA_DATA(a));
                break;
            case IFLA_STATS64:
                if (RTA_PAYLOAD(a) >= sizeof(rtnl_link_stats64)) {
                    rtnl_link_stats64 s;
                    std::memcpy(&s, RTA_DATA(a), sizeof s);
                    row.inOctets = s.rx_bytes;
                    row.outOctets = s.tx_bytes;
                    have64 = true;
                }
                break;
            case IFLA_STATS:
                if (!have64 && RTA_PAYLOAD(a) >= sizeof(rtnl_link_stats)) {
                    rtnl_link_stats s;
                    std::memcpy(&s, RTA_DATA(a), sizeof s);
                    row.inOctets = s.rx_bytes;
                    row.outOctets = s.tx_bytes;
                    row.counters32 = true;
                }
                break;
            case IFLA_CARRIER_CHANGES:
                if (RTA_PAYLOAD(a) >= sizeof(std::uint32_t))
                    std::memcpy(&carrierChanges, RTA_DATA(a), sizeof carrierChanges);
                break;
            default:
                break;
            }
        }
        if (have64)
            row.counters32 = false;
        rows.push_back(std::move(row));
        carriers.push_back(carrierChanges);
    });
    // The kernel has no figure for PPP; the line's connect speed stands in later.
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].type != kArphrdPpp && rows[i].type != ARPHRD_LOOPBACK)
            rows[i].speed = speedOf(rows[i].name, rows[i].index, carriers[i]);
    if (speeds_.size() > rows.size() * 2 + 16)
        speeds_.clear();

    if (!dump(RTM_GETADDR, AF_INET, addrs))
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
