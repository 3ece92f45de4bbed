#pragma once
// The line policies of config.ini [policy]: redial a line that dropped or a
// dial that failed, hang up an idle line, keep to the monthly budget. Driven
// by the two ticks; every dial and hang-up passes through its DialPolicy
// hooks, which is where the settings are read.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "server/dialup/engine/DialupOperations.h"
#include "server/frame/ServerConfig.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

// "1500", "12.5" or "12,5" in ten-thousandths; nullopt for anything else.
std::optional<std::int64_t> costUnits(const std::string &text);

// " of B budget" after the month's cost when the budget is in force (as the
// policy reads it), else nothing.
std::string ofBudget(const std::string &monthlybudget);

class LinePolicy final : public dialup::DialPolicy {
public:
    // What the policies reach outside the state block.
    struct Parts {
        std::function<PolicySettings()> readSettings;
        std::function<void(const std::string &entry, const std::string &dialer)> dial;
        std::function<void()> hangup;
        // This month's cost from the log, in ten-thousandths.
        std::function<std::optional<std::int64_t>()> monthCost;
        // The entry's cost per hour, in ten-thousandths (0 when none).
        std::function<std::int64_t(const std::string &entry)> hourlyCost;
        // The current connection's row is in the log (and so in monthCost).
        std::function<bool()> connectionLogged;
        // A chat record from the server to every client.
        std::function<void(const std::string &body)> tellEveryone;
        // Why the policy acted, for the operator and the service log.
        std::function<void(const std::string &text)> note;
        // The bytes of the billing cycle so far, for the volume cap.
        std::function<std::optional<std::uint64_t>(int billingDay)> cycleBytes;
        // A row of the audit trail for what the policy did on its own.
        std::function<void(const std::string &action, const std::string &detail)> audit;
    };

    LinePolicy(state::ServerState &state, Parts parts);

    // dialup::DialPolicy
    bool mayDial(const std::string &entry, std::string *refusal) override;
    void dialing(const std::string &entry, const std::string &dialer) override;
    void hangingUp() override;
    void dialFailed() override;

    // The operator confirmed a dial past the budget: the next dial may start.
    void allowNextDial() { allowOnce_ = true; }
    void forgetAllowance() { allowOnce_ = false; }
    // The month's cost has reached a set budget.
    bool budgetReached();
    // The cycle's bytes have reached a set volume cap.
    bool volumeReached();
    // The settings the next mayDial uses instead of reading them: the dial
    // has read config.ini already.
    void setDialSettings(PolicySettings settings) { dialSettings_ = std::move(settings); }

    // Status tick, after the line's status of this tick is known.
    void statusTick();
    // Online-time tick while connected, before SecondsOnline advances: at
    // each whole minute online (0:00 included) the idle count and the budget.
    void secondTick();
    // Bytes the dial-up interface moved in one sample.
    void countBytes(std::uint64_t bytes) { bytesThisMinute_ += bytes; }
    // The listener went offline: a pending redial is dropped.
    void offline() { cancelRedial(); }

    bool redialPending() const { return phase_ == Phase::Waiting; }
    const PolicySettings &settings() const { return settings_; }

private:
    enum class Phase { Idle, Dialing, Up, Waiting };
    bool budgetReached(const PolicySettings &settings);
    bool volumeReached(const PolicySettings &settings);
    // The whole minute's look at the volume cap; true when it hung up.
    bool volumeMinute();
    void scheduleRedial();
    void cancelRedial();
    void redialNow();
    std::string waitingText() const;
    void resetConnectionWatch();

    state::ServerState &state_;
    Parts parts_;
    PolicySettings settings_;  // as read at the latest dial
    std::optional<PolicySettings> dialSettings_;  // read by the dial in progress
    Phase phase_ = Phase::Idle;
    std::string entry_, dialer_;
    std::string failure_;  // why the dial that is being redialled failed
    int attempts_ = 0;   // redials since the line was last up
    int ticksLeft_ = 0;  // of the hold-off, in status ticks
    bool ownDial_ = false;
    bool dialFailed_ = false;
    bool allowOnce_ = false;
    bool pastLimits_ = false;  // the connection the operator allowed past them
    state::LineLock lastLock_ = state::LineLock::Unset;
    std::uint64_t bytesThisMinute_ = 0;
    int idleMinutes_ = 0;
    bool budgetWarned_ = false;
    bool volumeHangupDue_ = false;
    int volumeWarned_ = 0;  // the highest share of the cap told, in per cent
};

}  // namespace velora::server::frame
