#include "server/frame/LineConnectionView.h"

namespace velora::server::frame {

traffic::ConnectionView lineConnectionView(dialup::LineDriver &line, dialup::DialupOperations &dialOps)
{
    traffic::ConnectionView v;
    v.entryForAddress = [&dialOps](const std::string &address) { return dialOps.EntryForAddress(address, "unknown"); };
    v.namedInterfaces = [&line] {
        std::vector<traffic::NamedInterface> named;
        std::vector<dialup::ConnectionInfo> connections;
        if (line.enumConnections(connections) != 0)
            return named;
        for (const dialup::ConnectionInfo &c : connections)
            if (std::string name = line.connectionInterface(c.handle); !name.empty())
                named.push_back({std::move(name), c.entryName});
        return named;
    };
    v.connectionSpeed = [&line](const std::string &entry) {
        std::vector<dialup::ConnectionInfo> connections;
        std::uint32_t bps = 0;
        if (line.enumConnections(connections) == 0)
            for (const dialup::ConnectionInfo &c : connections)
                if (c.entryName == entry && line.connectionSpeed(c.handle, bps) == 0 && bps)
                    return bps;
        return std::uint32_t{0};
    };
    return v;
}

}  // namespace velora::server::frame
