#pragma once
// The ppp links that another dialer raised (pppd run by hand, by pon, by
// another program), and which peer each one belongs to: from pppd's pid
// files, the dialer's command line in /proc and the peer files.
//
// Those files are read once per link, when it appears, not on every status
// tick. A link is the same while its interface is: a new pppd gets a new
// interface, which the kernel numbers anew even under the same name.

#include "server/dialup/entries/PppdPeers.h"
#include "server/dialup/lines/LineDriver.h"
#include "server/dialup/lines/NetInterfaces.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velora::server::dialup {

class PppdOutsideLinks {
public:
    struct Link {
        ConnHandle handle = 0;
        std::string interface;
        int index = 0;
        std::string entry;  // "unknown" when no peer claims the link
        std::string device;
        std::string deviceType;
        std::uint32_t baud = 0;
    };

    PppdOutsideLinks(const PppdPeers &peers, const NetInterfaces &net, std::string runDir,
                     std::string procDir);

    // The PPP links that are up, in interface order, leaving out those that
    // `skip` names (ours, or on their way down). A link keeps its handle and
    // what was read about it while it stays; new links take handles from
    // nextHandle.
    const std::vector<Link> &refresh(const std::function<bool(const std::string &)> &skip,
                                     ConnHandle &nextHandle);
    const Link *find(ConnHandle handle) const;
    // Drops a link from the list, e.g. once it is being hung up.
    void forget(ConnHandle handle);

    // The pid of the pppd holding the interface, read now; 0 when unknown.
    int pidOf(const std::string &ifname) const;
    // How many links had their files read, for the tests.
    std::size_t readings() const { return readings_; }

private:
    Link read(const std::string &ifname, int index) const;
    std::string entryOf(const std::string &ifname) const;

    const PppdPeers &peers_;
    const NetInterfaces &net_;
    std::string runDir_;
    std::string procDir_;
    std::vector<Link> links_;
    mutable std::size_t readings_ = 0;
};

}  // namespace velora::server::dialup
