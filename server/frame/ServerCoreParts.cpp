// What the core hands each of its modules: their views of the others, as
// functions read when the module needs them, never at construction.

#include "server/frame/ServerCore.h"

#include "common/NumberFormat.h"
#include "common/TextCodec.h"
#include "common/WireCodec.h"
#include "server/state/Text.h"

namespace velora::server::frame {

SharingCoordinator::Parts ServerCore::sharingParts()
{
    return {*platform_.line, *platform_.sharing, log_.database(),
            [this] {
                return std::vector<int>{int(clients_.transport().port()), int(clients_.transport().tlsPort()),
                                        int(web_.port())};
            },
            [this] { return config_.wanAccess(); }, options_.listenAddress};
}

UsageMeter::Parts ServerCore::usageParts()
{
    return {*platform_.usage, log_.database(),
            [this] { return platform_.line->interfaceOf(trimBlanks(state_.ActiveEntry)); },
            [this](const std::string &address) {
                for (const clientservice::TSimpleClient *r : clients_.clientList())
                    if (r->Address == address)
                        return r->ClientName;
                return address;
            },
            [] { return ownClientName(); }, {}};
}

web::WebParts ServerCore::webParts()
{
    return {state_, clients_, [this] { return monthCost(); },
            [this] { return log_.database().isOpen() ? &log_.database() : nullptr; },
            [this] { return usageThisCycle(); }};
}

state::DialSettings ServerCore::readAtDial()
{
    // config.ini once per dial: its [dial] keys, the policy's and wanaccess.
    const ServerConfig file = config_.snapshot();
    policy_.setDialSettings(file.policySettings());
    sharing_.setWanAccessAtDial(file.wanAccess());
    return file.dialSettings();
}

LinePolicy::Parts ServerCore::policyParts()
{
    LinePolicy::Parts p;
    p.readSettings = [this] { return config_.policySettings(); };
    p.dial = [this](const std::string &entry, const std::string &dialer) { dialOps_.executedial(entry, dialer); };
    p.hangup = [this] { dialOps_.executehangup(); };
    p.monthCost = [this] { return monthCost(); };
    p.cycleBytes = [this](int billingDay) { return usage_.bytesThisCycle(billingDay); };
    p.hourlyCost = [this](const std::string &entry) {
        return costUnits(log_.database().harga(entry).value_or("0")).value_or(0);
    };
    p.connectionLogged = [this] { return log_.rowOpen(); };
    p.tellEveryone = [this](const std::string &body) {
        const std::string record = ownAddress() + wire::ListSep + ownClientName() + wire::ListSep + body +
                                   wire::LineSep + wire::ListSep + wire::RecordSep;
        clients_.pesanserver("All", record);
    };
    p.note = [this](const std::string &text) {
        log_.audit("server", "policy", text);
        emit problem(state::shownMessage(text));
    };
    p.audit = [this](const std::string &action, const std::string &detail) { log_.audit("server", action, detail); };
    return p;
}

std::optional<std::int64_t> ServerCore::monthCost()
{
    // The budget follows the billing cycle; from the 1st it is the month's.
    const int day = log::billingDayOf(config_.policySettings().billingday);
    return day == 1 ? log_.monthCost() : usage_.book().cost(log::cycleOf(usage_.today(), day));
}

std::optional<log::CycleUsage> ServerCore::usageThisCycle()
{
    const PolicySettings p = config_.policySettings();
    return usage_.thisCycle(p.billingday, p.capBytes());
}

}  // namespace velora::server::frame
