#include "server/frame/LinePolicy.h"

#include <utility>

#include <cctype>

namespace velora::server::frame {

namespace {
const char *const kBudgetReached = "Monthly budget reached";
const char *const kVolumeReached = "Monthly volume reached";

std::string megabytes(std::uint64_t bytes) { return std::to_string(bytes / 1048576) + " MB"; }
}  // namespace

std::optional<std::int64_t> costUnits(const std::string &text)
{
    std::size_t i = 0;
    std::int64_t whole = 0;
    int digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (++digits > 14)
            return std::nullopt;
        whole = whole * 10 + (text[i++] - '0');
    }
    std::int64_t fraction = 0;
    int places = 0;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
            if (places < 4) {
                fraction = fraction * 10 + (text[i] - '0');
                ++places;
            }
    }
    if (i != text.size() || (digits == 0 && places == 0))
        return std::nullopt;
    for (; places < 4; ++places)
        fraction *= 10;
    return whole * 10000 + fraction;
}

std::string ofBudget(const std::string &monthlybudget)
{
    const auto budget = costUnits(monthlybudget);
    return budget && *budget > 0 ? " of " + monthlybudget + " budget" : std::string();
}

LinePolicy::LinePolicy(state::ServerState &state, Parts parts) : state_(state), parts_(std::move(parts)) {}

bool LinePolicy::budgetReached()
{
    return budgetReached(parts_.readSettings ? parts_.readSettings() : PolicySettings{});
}

bool LinePolicy::budgetReached(const PolicySettings &s)
{
    const auto budget = costUnits(s.monthlybudget);
    if (!budget || *budget <= 0 || !parts_.monthCost)
        return false;
    const auto cost = parts_.monthCost();
    return cost && *cost >= *budget;
}

bool LinePolicy::volumeReached()
{
    return volumeReached(parts_.readSettings ? parts_.readSettings() : PolicySettings{});
}

bool LinePolicy::volumeReached(const PolicySettings &s)
{
    if (s.capBytes() == 0 || !parts_.cycleBytes)
        return false;
    const auto used = parts_.cycleBytes(s.billingday);
    return used && *used >= s.capBytes();
}

bool LinePolicy::mayDial(const std::string &, std::string *refusal)
{
    if (dialSettings_)
        settings_ = *std::exchange(dialSettings_, std::nullopt);
    else
        settings_ = parts_.readSettings ? parts_.readSettings() : PolicySettings{};
    const bool allowed = allowOnce_;
    allowOnce_ = false;
    const bool overBudget = budgetReached(settings_);
    const bool overVolume = !overBudget && volumeReached(settings_);
    // The operator dialled past a spent budget or cap: this connection is
    // not hung up for it a minute later.
    pastLimits_ = allowed && (overBudget || overVolume);
    if (!allowed && overBudget) {
        if (refusal)
            *refusal = kBudgetReached;
        if (parts_.note)
            parts_.note("Dial refused: the monthly budget of " + settings_.monthlybudget + " is spent");
        return false;
    }
    if (!allowed && overVolume) {
        if (refusal)
            *refusal = kVolumeReached;
        if (parts_.note)
            parts_.note("Dial refused: the monthly volume of " + megabytes(settings_.capBytes()) + " is used up");
        return false;
    }
    return true;
}

void LinePolicy::dialing(const std::string &entry, const std::string &dialer)
{
    // A dial by anyone else starts the count again, for its own entry.
    if (!ownDial_) {
        attempts_ = 0;
        entry_ = entry;
        dialer_ = dialer;
    }
    ownDial_ = false;
    dialFailed_ = false;
    phase_ = Phase::Dialing;
}

void LinePolicy::hangingUp() { cancelRedial(); }

void LinePolicy::dialFailed() { dialFailed_ = true; }

void LinePolicy::statusTick()
{
    const bool connected = state_.ActiveStatus == state::LinkState::Connected;
    if (!connected) {
        bytesThisMinute_ = 0;
        idleMinutes_ = 0;
        budgetWarned_ = false;
        volumeHangupDue_ = false;
    }
    const bool lockChanged = state_.LockStatus != lastLock_;
    lastLock_ = state_.LockStatus;
    switch (phase_) {
    case Phase::Idle:
        break;
    case Phase::Dialing:
        if (connected) {
            phase_ = Phase::Up;
            attempts_ = 0;
        } else if (dialFailed_) {
            dialFailed_ = false;
            // The line's own words for the failure, kept beside the count down.
            failure_ = state_.StatusText;
            scheduleRedial();
        }
        break;
    case Phase::Up:
        if (!connected && !state_.HangupRequested) {
            failure_.clear();
            scheduleRedial();
        }
        break;
    case Phase::Waiting:
        if (lockChanged) {
            if (parts_.note)
                parts_.note("Redial cancelled: the lock changed");
            cancelRedial();
        } else if (--ticksLeft_ <= 0) {
            redialNow();
        } else {
            state_.StatusText = waitingText();
        }
        break;
    }
}

void LinePolicy::scheduleRedial()
{
    if (!settings_.redial) {
        phase_ = Phase::Idle;
        return;
    }
    if (attempts_ >= settings_.redialmaxfail) {
        phase_ = Phase::Idle;
        if (parts_.note)
            parts_.note("Redial of " + entry_ + " given up after " + std::to_string(attempts_) + " failed attempts");
        return;
    }
    ++attempts_;
    // Two status ticks a second.
    ticksLeft_ = settings_.redialholdoff * 2;
    phase_ = Phase::Waiting;
    state_.StatusText = waitingText();
    state_.StatusChanged = 1;
}

std::string LinePolicy::waitingText() const
{
    return "Redialing in " + std::to_string((ticksLeft_ + 1) / 2) + " s (attempt " + std::to_string(attempts_) +
           " of " + std::to_string(settings_.redialmaxfail) + ")" + (failure_.empty() ? "" : " after: " + failure_);
}

void LinePolicy::cancelRedial()
{
    if (phase_ == Phase::Waiting) {
        state_.StatusText = "READY";
        state_.StatusChanged = 1;
    }
    phase_ = Phase::Idle;
}

void LinePolicy::redialNow()
{
    phase_ = Phase::Idle;
    ownDial_ = true;
    if (parts_.audit)
        parts_.audit("redial", entry_ + ", attempt " + std::to_string(attempts_) + " of " +
                                   std::to_string(settings_.redialmaxfail));
    if (parts_.dial)
        parts_.dial(entry_, dialer_);
    // Still set: the dial did not start (refused by the budget or sharing).
    if (ownDial_) {
        ownDial_ = false;
        phase_ = Phase::Idle;
    }
}

void LinePolicy::secondTick()
{
    const std::uint64_t s = state_.SecondsOnline;
    if (s % 60 != 0)
        return;
    const std::uint64_t moved = bytesThisMinute_;
    bytesThisMinute_ = 0;
    // At 0:00 no minute has passed yet, but the first one may already cost
    // more than the budget leaves.
    if (s > 0 && settings_.idlehangup > 0) {
        // Someone holding the lock wants the line, busy or not.
        if (state_.LockStatus == state::LineLock::Locked || moved >= static_cast<std::uint64_t>(settings_.idlebytes))
            idleMinutes_ = 0;
        else
            ++idleMinutes_;
        if (idleMinutes_ >= settings_.idlehangup) {
            idleMinutes_ = 0;
            if (parts_.note)
                parts_.note("Hung up " + state_.ActiveEntry + ": fewer than " + std::to_string(settings_.idlebytes) +
                            " bytes a minute for " + std::to_string(settings_.idlehangup) + " minutes");
            if (parts_.hangup)
                parts_.hangup();
            return;
        }
    }
    if (pastLimits_ || volumeMinute())
        return;
    const auto budget = costUnits(settings_.monthlybudget);
    if (!budget || *budget <= 0 || !parts_.monthCost)
        return;
    if (budgetWarned_) {
        budgetWarned_ = false;
        if (parts_.note)
            parts_.note("Hung up " + state_.ActiveEntry + ": the monthly budget of " + settings_.monthlybudget +
                        " is spent");
        if (parts_.hangup)
            parts_.hangup();
        return;
    }
    const std::int64_t hourly = parts_.hourlyCost ? parts_.hourlyCost(state_.ActiveEntry) : 0;
    std::int64_t cost = parts_.monthCost().value_or(0);
    if (!(parts_.connectionLogged && parts_.connectionLogged()))
        cost += static_cast<std::int64_t>(s) * hourly / 3600;
    if (cost + hourly / 60 >= *budget) {
        budgetWarned_ = true;
        if (parts_.tellEveryone)
            parts_.tellEveryone("The monthly budget is spent in one minute: the line will then be hung up.");
    }
}

bool LinePolicy::volumeMinute()
{
    const std::uint64_t cap = settings_.capBytes();
    if (cap == 0 || !parts_.cycleBytes)
        return false;
    if (volumeHangupDue_) {
        volumeHangupDue_ = false;
        if (parts_.note)
            parts_.note("Hung up " + state_.ActiveEntry + ": the monthly volume of " + megabytes(cap) + " is used up");
        if (parts_.hangup)
            parts_.hangup();
        return true;
    }
    const std::uint64_t used = parts_.cycleBytes(settings_.billingday).value_or(0);
    const std::uint64_t percent = used / (cap / 100 ? cap / 100 : 1);
    const auto tell = [this](const std::string &text) {
        if (parts_.tellEveryone)
            parts_.tellEveryone(text);
        if (parts_.note)
            parts_.note(text);
    };
    if (used >= cap) {
        volumeHangupDue_ = true;
        volumeWarned_ = 100;
        tell("The monthly volume of " + megabytes(cap) + " is used up: the line will be hung up in one minute.");
        return false;
    }
    // A new cycle starts the warnings again.
    if (percent < 80)
        volumeWarned_ = 0;
    for (const int level : {95, 80})
        if (percent >= std::uint64_t(level)) {
            if (volumeWarned_ < level) {
                volumeWarned_ = level;
                tell(std::to_string(level) + " % of the monthly volume is used: " + megabytes(used) + " of " +
                     megabytes(cap) + ".");
            }
            break;
        }
    return false;
}

}  // namespace velora::server::frame
