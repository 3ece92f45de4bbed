#pragma once
// The interface table from rtnetlink. Every read takes one RTM_GETSTATS dump
// (only the 64-bit counters, a tenth of a link dump's bytes) and one
// RTM_GETADDR dump; names and types come from an RTM_GETLINK dump that is
// taken again whenever the set of interfaces changed, and every few reads
// for renames. Faster than walking /sys/class/net (bench_traffic_sample
// compares the two).

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
    struct Link {
        std::string name;
        std::uint32_t type = 0;
        std::uint32_t carrierChanges = 0;
    };
    bool dump(int type, const void *body, std::size_t size, std::string &reply);
    bool readLinks();
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
    std::map<std::uint32_t, Link> links_;
    int readsSinceLinks_ = 0;
};

}  // namespace velora::server::traffic
