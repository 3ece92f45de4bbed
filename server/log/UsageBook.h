#pragma once
// The bytes of each office computer per day (table `usage` of log.db) and
// the billing cycle they are summed over. The one read-only entry point for
// whoever shows the figures (the Usage tab, `velora usage`, the web page):
// cycleUsage() answers "this cycle's rows per computer, bytes used of the
// cap". Texts are Windows-1252 bytes, as in the rest of the log.

#include <QDate>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/log/LogDatabase.h"

namespace velora::server::log {

// The address (and name) of the server's own traffic on the line.
inline constexpr const char *kThisComputer = "this computer";

// Days first..last, both included. A cycle starts on the billing day (1-28)
// of a month and ends the day before that day of the next month.
struct BillingCycle {
    QDate first;
    QDate last;
    bool operator==(const BillingCycle &) const = default;
    int days() const { return static_cast<int>(first.daysTo(last)) + 1; }
};

// Outside 1-28 counts as 1.
int billingDayOf(int setting);
// The cycle that holds `day`.
BillingCycle cycleOf(const QDate &day, int billingDay);
// The cycle that starts in the given month.
BillingCycle cycleStartingIn(int month, int year, int billingDay);

struct ComputerUsage {
    std::string address;
    std::string name;
    std::uint64_t down = 0;
    std::uint64_t up = 0;
    std::uint64_t total() const { return down + up; }
    bool operator==(const ComputerUsage &) const = default;
};

struct DayUsage {
    QDate day;
    std::uint64_t down = 0;
    std::uint64_t up = 0;
    // The cost of the connections that started that day, in ten-thousandths.
    std::int64_t cost = 0;
};

struct CycleUsage {
    BillingCycle cycle;
    // Largest first.
    std::vector<ComputerUsage> computers;
    std::uint64_t used = 0;
    // 0: no cap.
    std::uint64_t cap = 0;
};

// Bytes at the cycle's end if the days still to come go as the days so far
// (`today` included); `days` as days() gives them.
std::uint64_t projectedBytes(const std::vector<DayUsage> &days, const QDate &today);

class UsageBook {
public:
    explicit UsageBook(LogDatabase &db) : db_(db) {}

    // Adds the bytes to the day's rows of their addresses; the name becomes
    // the one given. One transaction.
    bool add(const QDate &day, const std::vector<ComputerUsage> &bytes);
    // The cycle's computers, largest first; the name is the latest seen.
    std::optional<std::vector<ComputerUsage>> computers(const BillingCycle &cycle);
    // The same over the calendar period the connection log's filter names
    // (its month and two-digit year, either left out for any), as the
    // monthly report counts its connections.
    std::optional<std::vector<ComputerUsage>> computers(const LogFilter &period);
    // Every day of the cycle in order, days without traffic as zeros.
    std::optional<std::vector<DayUsage>> days(const BillingCycle &cycle);
    std::optional<std::uint64_t> bytesUsed(const BillingCycle &cycle);
    // The log's connection cost over the cycle, in ten-thousandths.
    std::optional<std::int64_t> cost(const BillingCycle &cycle);
    std::optional<CycleUsage> cycleUsage(const BillingCycle &cycle, std::uint64_t capBytes);

private:
    std::optional<std::vector<ComputerUsage>> computersWhere(const QString &where, const std::vector<QVariant> &values);

    LogDatabase &db_;
};

}  // namespace velora::server::log
