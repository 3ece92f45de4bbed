#pragma once
// The interface table from rtnetlink: one RTM_GETLINK dump (64-bit stats)
// and one RTM_GETADDR dump per read. Faster than walking /sys/class/net
// (bench_traffic_sample compares the two).

#include "server/traffic/InterfaceTable.h"

#include <map>
#include <string>

namespace velora::server::traffic {

class LinuxInterfaceTable final : public InterfaceTable {
public:
    explicit LinuxInterfaceTable(std::string sysClassNet = "/sys/class/net");
    ~LinuxInterfaceTable() override;
    LinuxInterfaceTable(const LinuxInterfaceTable &) = delete;
    LinuxInterfaceTable &operator=(const LinuxInterfaceTable &) = delete;

    bool read(std::vector<InterfaceRow> &rows) override;

private:
    bool dump(int type, unsigned char family, std::string &reply);
    std::uint32_t speedOf(const std::string &name, std::uint32_t index, std::uint32_t carrierChanges);

    struct CachedSpeed {
        std::uint32_t carrierChanges = 0;
        std::string name;
        std::uint32_t speed = 0;
    };
    std::string sysfs_;
    int fd_ = -1;
    std::uint32_t seq_ = 0;
    // The sysfs speed costs a file read; it only changes with the carrier.
    std::map<std::uint32_t, CachedSpeed> speeds_;
};

}  // namespace velora::server::traffic
