#include "client/core/StatusModel.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "common/NumberFormat.h"

namespace velora::client::core {

namespace {
std::optional<std::uint64_t> wholeNumber(const std::string &t)
{
    if (t.empty() || t.size() > 18)
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

std::vector<std::string> firstOf(const std::vector<std::string> &list, std::size_t most)
{
    return {list.begin(), list.begin() + static_cast<std::ptrdiff_t>(std::min(list.size(), most))};
}
}  // namespace

void StatusModel::reset()
{
    message = "Disconnected from server";
    activeEntry = onlineText = lockStatus = speed = device = "--";
    errorNotice.clear();
    ownLock.clear();
    entries.clear();
    clientNames.clear();
    clientLocks.clear();
    clientAddresses.clear();
    clientLockedSince.clear();
    lockHolder.clear();
    lockHolderSince = 0;
    lockingSeen_.clear();
    secondsOnline = 0;
}

std::int64_t StatusModel::wallClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool StatusModel::apply(const wire::StatusRecord &r, std::int64_t now)
{
    message = r.statusText;
    // While dialling or failing the entry is named too; nothing is connected through it yet.
    activeEntry = r.statusText == "Connected" ? r.activeEntry : "--";
    lockStatus = r.lockStatus;
    errorNotice = r.errorNotice;
    speed = r.speedValue;
    device = r.activeDevice;
    entries = firstOf(r.entryNames, MaxEntries);
    clientNames = firstOf(r.clientNames, MaxClients);
    clientLocks = firstOf(r.clientLocks, MaxClients);
    clientAddresses = firstOf(r.clientAddresses, MaxClients);
    ownLock = r.ownLock;
    // The wire says only who locks now; the time is when this client first
    // saw it, and a record that let go forgets it.
    std::map<std::pair<std::string, std::string>, std::int64_t> seen;
    clientLockedSince.assign(clientNames.size(), 0);
    lockHolder.clear();
    lockHolderSince = 0;
    for (std::size_t i = 0; i < clientNames.size(); ++i) {
        if (wire::at(clientLocks, i) != "locking")
            continue;
        auto key = std::make_pair(clientNames[i], wire::at(clientAddresses, i));
        const auto before = lockingSeen_.find(key);
        const std::int64_t since = before != lockingSeen_.end() ? before->second : now;
        seen.emplace(std::move(key), since);
        clientLockedSince[i] = since;
        if (lockHolder.empty()) {
            lockHolder = clientNames[i];
            lockHolderSince = since;
        }
    }
    lockingSeen_ = std::move(seen);
    const auto seconds = wholeNumber(r.secondsOnline);
    if (!seconds)
        return false;
    secondsOnline = *seconds;
    return true;
}

StatusModel::Controls StatusModel::controls(const std::string &dialHangupPrivilege) const
{
    Controls c;
    if (lockStatus == "free" && dialHangupPrivilege == "1") {
        c.dialEnabled = true;
        c.trayDialEnabled = message == "READY";
        c.trayHangupEnabled = !c.trayDialEnabled;
    }
    if (lockStatus == "free")
        c.lockIcon = LockIcon::Hidden;
    else if (lockStatus == "locked")
        c.lockIcon = LockIcon::Shown;
    c.showUnlock = ownLock != "free";
    c.showHangup = message != "READY";
    c.lineConnected = message == "Connected";
    c.trayImage = c.lineConnected ? LineConnected : LineNotConnected;
    return c;
}

void StatusModel::clockTick()
{
    if (message == "Connected") {
        ++secondsOnline;
        onlineText = olahwaktu(secondsOnline);
    } else if (message == "READY") {
        onlineText = "--";
    }
}

std::string StatusModel::fullHint() const
{
    return "Status : " + message + "\nConnected via : " + activeEntry + "\nSpeed : " + speed +
           "\nTime Online : " + onlineText;
}

std::string StatusModel::shortOrFullHint() const
{
    return (speed != "--" && activeEntry != "--") ? fullHint() : message;
}

}  // namespace velora::client::core
