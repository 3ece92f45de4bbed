#pragma once
// A complete ServerPlatform of stand-ins: the simulated line on the base dir,
// scripted look-up and ICMP, the recording shutdown, a fake autostart, the
// simulated line's interface table. The
// pointers let a test reach the parts after the core took them.

#include <memory>
#include <string>

#include "server/dialup/lines/SimulatedLine.h"
#include "server/frame/ServerPlatform.h"
#include "server/frame/SimulatedInterfaceTable.h"
#include "support/DialupFakes.h"
#include "support/FakeAutostart.h"
#include "support/RecordingShutdown.h"

namespace velora::test {

struct FakePlatformParts {
    server::dialup::SimulatedLine *line = nullptr;
    FakeHostLookup *lookup = nullptr;
    FakeIcmpPort *icmp = nullptr;
    RecordingShutdown *shutdown = nullptr;
    FakeAutostart *autostart = nullptr;
};

inline server::frame::ServerPlatform fakePlatform(const std::string &baseDir, FakePlatformParts *parts = nullptr)
{
    server::frame::ServerPlatform p;
    auto line = std::make_unique<server::dialup::SimulatedLine>(baseDir);
    auto lookup = std::make_unique<FakeHostLookup>();
    auto icmp = std::make_unique<FakeIcmpPort>();
    auto shutdown = std::make_unique<RecordingShutdown>();
    auto autostart = std::make_unique<FakeAutostart>();
    if (parts)
        *parts = {line.get(), lookup.get(), icmp.get(), shutdown.get(), autostart.get()};
    p.interfaces = server::frame::interfaceTableFor(*line);
    p.line = std::move(line);
    p.lookup = std::move(lookup);
    p.icmp = std::move(icmp);
    p.shutdown = std::move(shutdown);
    p.autostart = std::move(autostart);
    return p;
}

}  // namespace velora::test
