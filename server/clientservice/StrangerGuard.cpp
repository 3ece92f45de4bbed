#include "server/clientservice/StrangerGuard.h"

#include <algorithm>
#include <chrono>

namespace velora::server::clientservice {

namespace {
std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

StrangerGuard::StrangerGuard(Clock clock) : clock_(clock ? std::move(clock) : Clock(steadyMs)) {}

StrangerGuard::Admission StrangerGuard::admit(const std::string &address, std::size_t pending,
                                              std::size_t fromAddress)
{
    if (fromAddress >= static_cast<std::size_t>(std::max(0, limits_.maxPerAddress))) {
        countRefused(address);
        return Admission::Refuse;
    }
    if (pending < static_cast<std::size_t>(std::max(0, limits_.maxPending)))
        return Admission::Admit;
    if (limits_.maxPending > 0)
        return Admission::AdmitAfterEvicting;
    countRefused(address);
    return Admission::Refuse;
}

void StrangerGuard::countRefused(const std::string &address)
{
    // A scanner with many addresses must not grow this without end.
    if (refused_.size() < 1024 || refused_.count(address))
        ++refused_[address];
    else
        ++otherAddresses_;
    ++refusedTotal_;
}

bool StrangerGuard::overdue(std::int64_t acceptedAt) const
{
    return now() - acceptedAt >= static_cast<std::int64_t>(limits_.loginTimeoutSeconds) * 1000;
}

std::int64_t StrangerGuard::loginHeldUntil(const std::string &address) const
{
    const auto it = failures_.find(address);
    if (it == failures_.end() || it->second.until <= now())
        return 0;
    return it->second.until;
}

void StrangerGuard::loginFailed(const std::string &address)
{
    if (failures_.size() >= 4096 && !failures_.count(address))
        forgetOldFailures();
    Failures &f = failures_[address];
    ++f.count;
    if (f.count < FailuresBeforeBackoff)
        return;
    f.backoffMs = f.backoffMs == 0 ? FirstBackoffMs : std::min(LongestBackoffMs, f.backoffMs * 2);
    f.until = now() + f.backoffMs;
}

void StrangerGuard::forgetOldFailures()
{
    // An address quiet for longer than the longest wait starts afresh.
    const std::int64_t t = now();
    for (auto it = failures_.begin(); it != failures_.end();)
        it = it->second.until + LongestBackoffMs < t ? failures_.erase(it) : std::next(it);
}

std::string StrangerGuard::refusedReport()
{
    if (refused_.empty() && unseen_ == 0 && otherAddresses_ == 0)
        return {};
    const std::int64_t t = now();
    // A burst is told as one line once it is over (nothing new since the
    // last look), or after a minute of it; then at most once a minute.
    const bool burstOver = refusedTotal_ == totalAtLastLook_;
    totalAtLastLook_ = refusedTotal_;
    if (windowStart_ < 0)
        windowStart_ = t;
    if (reported_ && t - lastReport_ < ReportIntervalMs)
        return {};
    if (!burstOver && t - windowStart_ < ReportIntervalMs)
        return {};
    windowStart_ = -1;
    std::size_t total = unseen_ + otherAddresses_;
    std::string from;
    for (const auto &[address, n] : refused_) {
        total += n;
        from += (from.empty() ? "" : ", ") + address + " (" + std::to_string(n) + ")";
    }
    if (otherAddresses_ > 0)
        from += (from.empty() ? "" : ", ") + std::string("other addresses (") + std::to_string(otherAddresses_) + ")";
    if (unseen_ > 0)
        from += (from.empty() ? "" : ", ") + std::string("unseen for lack of descriptors (") +
                std::to_string(unseen_) + ")";
    refused_.clear();
    unseen_ = 0;
    otherAddresses_ = 0;
    reported_ = true;
    lastReport_ = t;
    forgetOldFailures();
    return "refused " + std::to_string(total) + " connection" + (total == 1 ? "" : "s") +
           " that had not logged in, from " + from;
}

}  // namespace velora::server::clientservice
