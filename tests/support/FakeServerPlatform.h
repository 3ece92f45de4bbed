#pragma once
// A complete ServerPlatform of stand-ins: the simulated line on the base dir,
// scripted look-up and ICMP, the recording shutdown, a fake autostart, the
// simulated line's interface table, a recording sharing switch. The
// pointers let a test reach the parts after the core took them.

#include <memory>
#include <string>

#include "server/dialup/lines/SimulatedLine.h"
#include "server/frame/ServerPlatform.h"
#include "server/frame/SimulatedInterfaceTable.h"
#include "support/DialupFakes.h"
#include "support/FakeAutostart.h"
#include "support/RecordingShutdown.h"

#include <vector>

namespace velora::test {

// Records what the core asks of sharing; a test sets whether it works.
class FakeSharingSwitch final : public server::sharing::SharingSwitch {
public:
    bool canDrive = true;
    bool fails = false;
    std::vector<std::string> shared;  // each share() in order; "" un-shares only
    int unshared = 0;
    int checks = 0;
    // Outlives the switch, for a test that ends the core.
    int *unsharedAfterwards = nullptr;

    bool usable(std::string *why) override
    {
        ++checks;
        if (!canDrive && why)
            *why = "not allowed here";
        return canDrive;
    }
    bool share(const std::string &interfaceName, std::string *why) override
    {
        if (fails) {
            if (why)
                *why = "refused by the fake";
            return false;
        }
        shared.push_back(interfaceName);
        return true;
    }
    // Each guardInput(): the interfaces, then the ports, blank-separated.
    std::vector<std::string> guards;
    bool guardInput(const std::vector<std::string> &interfaces, const std::vector<int> &ports,
                    std::string *why) override
    {
        if (!canDrive) {
            if (why)
                *why = "not allowed here";
            return false;
        }
        std::string g;
        for (const auto &i : interfaces)
            g += i + " ";
        for (const int p : ports)
            g += std::to_string(p) + " ";
        guards.push_back(g);
        return true;
    }
    bool unshareAll(std::string *) override
    {
        ++unshared;
        if (unsharedAfterwards)
            ++*unsharedAfterwards;
        return true;
    }
};

// Counters a test sets by hand: what the kernel would hold for each address.
class FakeUsageCounters final : public server::sharing::UsageCounters {
public:
    server::sharing::CounterReading figures;
    std::vector<std::string> counted;  // each count() in order
    bool unreadable = false;
    int reads = 0;

    bool count(const std::string &interfaceName, std::string *) override
    {
        counted.push_back(interfaceName);
        return true;
    }
    std::optional<server::sharing::CounterReading> read(std::string *why) override
    {
        ++reads;
        if (unreadable) {
            if (why)
                *why = "unreadable in the fake";
            return std::nullopt;
        }
        return figures;
    }
    // Adds to an address's counters, as traffic would.
    void move(const std::string &address, std::uint64_t down, std::uint64_t up)
    {
        for (auto &a : figures.computers)
            if (a.address == address) {
                a.down += down;
                a.up += up;
                return;
            }
        figures.computers.push_back({address, down, up});
    }
};

struct FakePlatformParts {
    server::dialup::SimulatedLine *line = nullptr;
    FakeHostLookup *lookup = nullptr;
    FakeIcmpPort *icmp = nullptr;
    RecordingShutdown *shutdown = nullptr;
    FakeAutostart *autostart = nullptr;
    FakeSharingSwitch *sharing = nullptr;
    FakeUsageCounters *usage = nullptr;
};

inline server::frame::ServerPlatform fakePlatform(const std::string &baseDir, FakePlatformParts *parts = nullptr)
{
    server::frame::ServerPlatform p;
    auto line = std::make_unique<server::dialup::SimulatedLine>(baseDir);
    auto lookup = std::make_unique<FakeHostLookup>();
    auto icmp = std::make_unique<FakeIcmpPort>();
    auto shutdown = std::make_unique<RecordingShutdown>();
    auto autostart = std::make_unique<FakeAutostart>();
    auto sharing = std::make_unique<FakeSharingSwitch>();
    auto usage = std::make_unique<FakeUsageCounters>();
    if (parts)
        *parts = {line.get(), lookup.get(), icmp.get(), shutdown.get(), autostart.get(), sharing.get(), usage.get()};
    p.interfaces = server::frame::interfaceTableFor(*line);
    p.line = std::move(line);
    p.lookup = std::move(lookup);
    p.icmp = std::move(icmp);
    p.shutdown = std::move(shutdown);
    p.autostart = std::move(autostart);
    p.sharing = std::move(sharing);
    p.usage = std::move(usage);
    return p;
}

}  // namespace velora::test
