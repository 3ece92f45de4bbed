#pragma once
// What the real lines need to know about the machine's network interfaces:
// whether one exists, is up, its IPv4 address, kind and nominal speed. Read
// from sysfs and a socket ioctl; the tests hand the drivers a fake.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velora::server::dialup {

inline constexpr int kArphrdPpp = 512;  // sysfs "type" of a point-to-point PPP link

struct NetInterface {
    std::string name;
    int type = 0;              // ARPHRD_* number
    bool up = false;           // administratively up and the link is not down
    std::string ipv4;          // first IPv4 address, empty when none
    std::int64_t speedMbps = -1;  // the driver's figure; -1 when it has none
    int index = 0;                // the kernel's; a new link gets a new one, 0 when unknown
};

class NetInterfaces {
public:
    virtual ~NetInterfaces() = default;
    virtual std::vector<std::string> names() const = 0;
    virtual std::optional<NetInterface> find(const std::string &name) const = 0;

    // Up and holding an IPv4 address: what a line counts as connected.
    bool connected(const std::string &name) const;
};

class LinuxNetInterfaces final : public NetInterfaces {
public:
    explicit LinuxNetInterfaces(std::string sysClassNet = "/sys/class/net");
    std::vector<std::string> names() const override;
    std::optional<NetInterface> find(const std::string &name) const override;

private:
    std::string root_;
};

// A nominal speed in bits per second from sysfs megabits, capped to 32 bits;
// 0 when the figure is missing or not positive.
std::uint32_t bitsPerSecondFromMbps(std::int64_t mbps);

}  // namespace velora::server::dialup
