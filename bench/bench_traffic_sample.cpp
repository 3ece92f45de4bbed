// Cost of one traffic sample with 100 interfaces, read through rtnetlink (the
// table the server uses) and, for comparison, through /sys/class/net and
// getifaddrs. The interfaces are veth pairs in a network namespace of this
// process alone, which goes with it; needs root, reports and skips otherwise.
#include <ifaddrs.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "server/traffic/LinuxInterfaceTable.h"
#include "server/traffic/TrafficSampler.h"

using namespace velora::server::traffic;

namespace {

// The other way to read the same table: a directory walk and a few small
// files per interface, then getifaddrs for the addresses.
class SysfsInterfaceTable final : public InterfaceTable {
public:
    bool read(std::vector<InterfaceRow> &rows) override
    {
        rows.clear();
        DIR *d = ::opendir("/sys/class/net");
        if (!d)
            return false;
        while (const dirent *e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string base = std::string("/sys/class/net/") + e->d_name + "/";
            InterfaceRow r;
            r.name = e->d_name;
            r.index = static_cast<std::uint32_t>(number(base + "ifindex"));
            r.type = static_cast<std::uint32_t>(number(base + "type"));
            r.inOctets = number(base + "statistics/rx_bytes");
            r.outOctets = number(base + "statistics/tx_bytes");
            const long long mbps = static_cast<long long>(number(base + "speed"));
            r.speed = mbps > 0 ? static_cast<std::uint32_t>(std::min<long long>(mbps * 1000000LL, 0xFFFFFFFFLL)) : 0;
            rows.push_back(std::move(r));
        }
        ::closedir(d);
        ifaddrs *list = nullptr;
        if (::getifaddrs(&list) == 0) {
            for (const ifaddrs *a = list; a; a = a->ifa_next) {
                if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
                    continue;
                for (InterfaceRow &r : rows)
                    if (r.name == a->ifa_name && r.address.empty()) {
                        char text[INET_ADDRSTRLEN] = {};
                        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr, text,
                                    sizeof text);
                        r.address = text;
                    }
            }
            ::freeifaddrs(list);
        }
        return true;
    }

private:
    static std::uint64_t number(const std::string &path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return 0;
        char buf[32];
        const ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        if (n <= 0)
            return 0;
        buf[n] = '\0';
        return std::strtoull(buf, nullptr, 10);
    }
};

struct Figures {
    double median, p99, max;
};

Figures measure(InterfaceTable &table, int rounds, std::size_t &interfaces)
{
    ConnectionView view;
    view.entryForAddress = [](const std::string &) { return std::string("unknown"); };
    view.namedInterfaces = [] { return std::vector<NamedInterface>{{"va7", "Provider"}}; };
    view.connectionSpeed = [](const std::string &) { return 0u; };
    TrafficSampler sampler(table, view);
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        sampler.sample();
        sampler.entryUpdate("Provider");
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    interfaces = sampler.Tmibarray().size();
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
}

}  // namespace

int main(int argc, char **argv)
{
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 50;
    const int rounds = 2000;
    // A network namespace and a sysfs that shows it, both this process's own.
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        std::printf("bench_traffic_sample: needs root for a namespace of its own; skipped\n");
        return 0;
    }
    // veth pairs: this kernel has no dummy links. Up, with an address each.
    const std::string batch = "/tmp/velora-bench-traffic-" + std::to_string(::getpid()) + ".ip";
    {
        std::ofstream out(batch);
        out << "link set lo up\n";
        for (int i = 0; i < pairs; ++i) {
            out << "link add va" << i << " type veth peer name vb" << i << "\n";
            out << "addr add 10.77." << i / 250 << "." << (i % 250) + 1 << "/32 dev va" << i << "\n";
            out << "link set va" << i << " up\nlink set vb" << i << " up\n";
        }
    }
    const int rc = std::system(("ip -batch " + batch + " >/dev/null 2>&1").c_str());
    ::unlink(batch.c_str());
    if (rc != 0) {
        std::printf("bench_traffic_sample: could not make the links; skipped\n");
        return 0;
    }
    LinuxInterfaceTable netlink;
    SysfsInterfaceTable sysfs;
    std::size_t n1 = 0, n2 = 0;
    const Figures a = measure(netlink, rounds, n1);
    const Figures b = measure(sysfs, rounds, n2);
    std::printf("one sample + entry update, %zu interfaces, %d rounds (target < 300 us):\n", n1, rounds);
    std::printf("  rtnetlink (used):       median %7.1f us  p99 %7.1f us  max %7.1f us\n", a.median, a.p99, a.max);
    std::printf("  /sys + getifaddrs (%zu): median %7.1f us  p99 %7.1f us  max %7.1f us\n", n2, b.median, b.p99,
                b.max);
    return 0;
}
