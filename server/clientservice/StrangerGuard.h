#pragma once
// Bounds on connections that have not logged in: how many there may be, how
// many from one address, how long they may wait, and how long an address
// that keeps failing its logins must wait before the next one is checked.
// Pure bookkeeping on a clock the owner hands in; the service acts on it.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace velora::server::clientservice {

struct StrangerLimits {
    int loginTimeoutSeconds = 30;
    int maxPending = 64;
    // Logged-in sessions included.
    int maxPerAddress = 16;
    // Logged-in sessions of one user.
    int maxPerUser = 8;
};

class StrangerGuard {
public:
    // Milliseconds on a clock that never goes back.
    using Clock = std::function<std::int64_t()>;
    explicit StrangerGuard(Clock clock = {});

    void setLimits(const StrangerLimits &limits) { limits_ = limits; }
    const StrangerLimits &limits() const { return limits_; }
    std::int64_t now() const { return clock_(); }

    enum class Admission { Admit, AdmitAfterEvicting, Refuse };
    // Whether a new connection may stay, given how many are waiting to log
    // in and how many come from its address; a refusal is counted. With the
    // waiting room full, a newcomer takes the place of the oldest stranger,
    // so idle sockets cannot keep a user out.
    Admission admit(const std::string &address, std::size_t pending, std::size_t fromAddress);
    // A stranger closed to make room, counted with the refused.
    void evicted(const std::string &address) { countRefused(address); }
    // Connections closed unseen because the process had no descriptor left.
    void refusedUnseen(std::size_t count)
    {
        unseen_ += count;
        refusedTotal_ += count;
    }
    // A connection refused before it could be a stranger (it came in over
    // the dialled line); told on its own line, counted in the total.
    void refusedDialled() { ++refusedTotal_; }
    bool overdue(std::int64_t acceptedAt) const;

    // The time before which the address's next login is not checked; 0 when
    // it may be checked now.
    std::int64_t loginHeldUntil(const std::string &address) const;
    void loginFailed(const std::string &address);
    void loginSucceeded(const std::string &address) { failures_.erase(address); }

    // The line about the refusals since the last one, at most once a minute;
    // empty when none is due.
    std::string refusedReport();
    std::size_t refusedTotal() const { return refusedTotal_; }

    static constexpr int FailuresBeforeBackoff = 5;
    static constexpr std::int64_t FirstBackoffMs = 10'000;
    static constexpr std::int64_t LongestBackoffMs = 300'000;
    static constexpr std::int64_t ReportIntervalMs = 60'000;

private:
    struct Failures {
        int count = 0;
        std::int64_t backoffMs = 0;
        std::int64_t until = 0;
    };
    void forgetOldFailures();
    void countRefused(const std::string &address);

    Clock clock_;
    StrangerLimits limits_;
    std::map<std::string, std::size_t> refused_;
    std::size_t unseen_ = 0;
    std::size_t otherAddresses_ = 0;
    std::size_t refusedTotal_ = 0;
    bool reported_ = false;
    std::int64_t lastReport_ = 0;
    std::size_t totalAtLastLook_ = 0;
    std::int64_t windowStart_ = -1;
    std::map<std::string, Failures> failures_;
};

}  // namespace velora::server::clientservice
