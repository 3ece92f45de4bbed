#include "server/frame/UsageMeter.h"

#include "server/state/Text.h"

namespace velora::server::frame {

namespace {

std::uint64_t gain(std::uint64_t now, std::uint64_t before) { return now >= before ? now - before : now; }

}  // namespace

UsageMeter::UsageMeter(state::ServerState &state, Parts parts, QObject *parent)
    : QObject(parent), state_(state), parts_(std::move(parts)), book_(parts_.log)
{
}

void UsageMeter::tellOnce(const std::string &text)
{
    if (failureTold_)
        return;
    failureTold_ = true;
    emit problem(state::shownMessage(text));
}

void UsageMeter::secondTick()
{
    const bool connected = state_.ActiveStatus == state::LinkState::Connected;
    // Only a shared line passes the office's traffic through our table.
    if (connected && state_.dialSettings.ics) {
        const std::string iface = parts_.lineInterface ? parts_.lineInterface() : std::string();
        if (!iface.empty() && iface != counting_) {
            std::string why;
            if (!parts_.counters.count(iface, &why)) {
                tellOnce("usage by computer is not counted: " + why);
                return;
            }
            counting_ = iface;
            // Counters left by a run that ended without its last read were
            // booked up to its last minute: they are where this run starts.
            if (!readThisRun_)
                readNow();
        }
        if (!counting_.empty() && state_.SecondsOnline > 0 && state_.SecondsOnline % 60 == 0)
            readNow();
    } else if (!counting_.empty()) {
        // The line has dropped: what its last minute moved.
        readNow();
        counting_.clear();
    }
}

bool UsageMeter::readNow()
{
    std::string why;
    const auto reading = parts_.counters.read(&why);
    if (!reading) {
        tellOnce(why);
        return false;
    }
    const bool baseline = !readThisRun_;
    readThisRun_ = true;
    std::vector<log::ComputerUsage> gains;
    std::map<std::string, Counts> now;
    for (const sharing::AddressBytes &a : reading->computers) {
        const auto before = last_.find(a.address);
        const Counts prev = before == last_.end() ? Counts{} : before->second;
        now[a.address] = {a.down, a.up};
        const std::uint64_t down = gain(a.down, prev.down), up = gain(a.up, prev.up);
        if (down || up)
            gains.push_back({a.address, parts_.nameOf ? parts_.nameOf(a.address) : a.address, down, up});
    }
    gains.push_back({log::kThisComputer, parts_.ownName ? parts_.ownName() : log::kThisComputer,
                     gain(reading->ownDown, lastOwn_.down), gain(reading->ownUp, lastOwn_.up)});
    last_ = std::move(now);
    lastOwn_ = {reading->ownDown, reading->ownUp};
    if (baseline)
        return true;
    if (!book_.add(today(), gains)) {
        tellOnce("usage by computer could not be written to the log");
        return false;
    }
    failureTold_ = false;
    emit usageChanged();
    return true;
}

std::optional<log::CycleUsage> UsageMeter::thisCycle(int billingDay, std::uint64_t capBytes)
{
    return book_.cycleUsage(log::cycleOf(today(), billingDay), capBytes);
}

std::optional<std::uint64_t> UsageMeter::bytesThisCycle(int billingDay)
{
    return book_.bytesUsed(log::cycleOf(today(), billingDay));
}

}  // namespace velora::server::frame
