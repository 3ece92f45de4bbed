#pragma once
// Every part of the server that touches the system. main.cpp builds the real
// ones; tests and benches hand in fakes. The core builds none itself.

#include <memory>
#include <string>

#include "server/dialup/keepalive/IcmpPort.h"
#include "server/dialup/lines/LineDriver.h"
#include "server/frame/Autostart.h"
#include "server/sharing/SharingSwitch.h"
#include "server/sharing/UsageCounters.h"
#include "server/state/Shutdown.h"
#include "server/traffic/InterfaceTable.h"

namespace velora::server::frame {

struct ServerPlatform {
    std::unique_ptr<dialup::LineDriver> line;
    // Why the configured line could not be used and this one stands in;
    // empty when it could. Windows-1252 (it quotes the INI file).
    std::string lineProblem;
    std::unique_ptr<dialup::HostLookup> lookup;
    std::unique_ptr<dialup::IcmpPort> icmp;
    std::unique_ptr<state::Shutdown> shutdown;
    std::unique_ptr<Autostart> autostart;
    // The interfaces' byte counters (interfaceTableFor gives the one of a line).
    std::unique_ptr<traffic::InterfaceTable> interfaces;
    // Connection sharing for the dialled entry (nftables on Linux).
    std::unique_ptr<sharing::SharingSwitch> sharing;
    // The bytes of each office computer on the shared line (nftables on Linux).
    std::unique_ptr<sharing::UsageCounters> usage;
};

// The platform as handed in; a missing part throws std::invalid_argument
// naming it (a core without one would fail later and far from the cause).
ServerPlatform completePlatform(ServerPlatform platform);

}  // namespace velora::server::frame
