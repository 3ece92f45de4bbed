#include "server/log/UsageBook.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

#include "server/log/LogSql.h"

namespace velora::server::log {

using sql::bytes;
using sql::integer;
using sql::run;
using sql::text;

namespace {

QString dayText(const QDate &d) { return d.toString(Qt::ISODate); }

QSqlQuery query(LogDatabase &db) { return QSqlQuery(QSqlDatabase::database(QString::fromStdString(db.connectionName()), false)); }

// A file opened for reading may predate the table: it has no rows then.
std::optional<bool> hasUsageTable(QSqlQuery &q)
{
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='usage'")) || !q.next())
        return std::nullopt;
    return q.value(0).toInt() > 0;
}

}  // namespace

int billingDayOf(int setting) { return setting >= 1 && setting <= 28 ? setting : 1; }

BillingCycle cycleStartingIn(int month, int year, int billingDay)
{
    const QDate first(year, month, billingDayOf(billingDay));
    return {first, first.addMonths(1).addDays(-1)};
}

BillingCycle cycleOf(const QDate &day, int billingDay)
{
    const int b = billingDayOf(billingDay);
    const QDate start = day.day() >= b ? day : day.addMonths(-1);
    return cycleStartingIn(start.month(), start.year(), b);
}

std::uint64_t projectedBytes(const std::vector<DayUsage> &days, const QDate &today)
{
    std::uint64_t sofar = 0;
    int elapsed = 0;
    for (const DayUsage &d : days)
        if (d.day <= today) {
            sofar += d.down + d.up;
            ++elapsed;
        }
    if (elapsed == 0 || days.empty())
        return sofar;
    return sofar + sofar / static_cast<std::uint64_t>(elapsed) * static_cast<std::uint64_t>(int(days.size()) - elapsed);
}

bool UsageBook::add(const QDate &day, const std::vector<ComputerUsage> &rows)
{
    if (!db_.isOpen())
        return false;
    return sql::inTransaction(db_.connectionName(), [&](QSqlQuery &q) {
        for (const ComputerUsage &r : rows) {
            if (r.down == 0 && r.up == 0)
                continue;
            if (!run(q,
                     QStringLiteral("INSERT INTO usage (day,address,name,bytesdown,bytesup) VALUES (?,?,?,?,?)"
                                    " ON CONFLICT(day,address) DO UPDATE SET name=excluded.name,"
                                    " bytesdown=bytesdown+excluded.bytesdown, bytesup=bytesup+excluded.bytesup"),
                     {dayText(day), text(r.address), text(r.name), integer(std::int64_t(r.down)),
                      integer(std::int64_t(r.up))}))
                return false;
        }
        return true;
    });
}

std::optional<std::vector<ComputerUsage>> UsageBook::computers(const BillingCycle &cycle)
{
    return computersWhere(QStringLiteral("day BETWEEN ? AND ?"), {dayText(cycle.first), dayText(cycle.last)});
}

std::optional<std::vector<ComputerUsage>> UsageBook::computers(const LogFilter &period)
{
    // Days are ISO text: the month is characters 6-7, the log's two-digit
    // year characters 3-4 (its years are 2000-2099).
    QString where = QStringLiteral("1");
    std::vector<QVariant> values;
    if (period.bulan) {
        where += QStringLiteral(" AND substr(day,6,2)=?");
        values.push_back(text(*period.bulan));
    }
    if (period.tahun) {
        where += QStringLiteral(" AND substr(day,1,2)='20' AND substr(day,3,2)=?");
        values.push_back(text(*period.tahun));
    }
    return computersWhere(where, values);
}

std::optional<std::vector<ComputerUsage>> UsageBook::computersWhere(const QString &where,
                                                                    const std::vector<QVariant> &values)
{
    if (!db_.isOpen())
        return std::nullopt;
    QSqlQuery q = query(db_);
    const auto table = hasUsageTable(q);
    if (!table)
        return std::nullopt;
    std::vector<ComputerUsage> out;
    if (!*table)
        return out;
    // The name of an address's latest day; SQLite takes the bare column from
    // the row that gave MAX(day).
    if (!run(q,
             QStringLiteral("SELECT address, SUM(bytesdown), SUM(bytesup), name, MAX(day) FROM usage WHERE ") + where +
                 QStringLiteral(" GROUP BY address ORDER BY SUM(bytesdown)+SUM(bytesup) DESC, address"),
             values))
        return std::nullopt;
    while (q.next())
        out.push_back({bytes(q.value(0)), bytes(q.value(3)), static_cast<std::uint64_t>(q.value(1).toLongLong()),
                       static_cast<std::uint64_t>(q.value(2).toLongLong())});
    return out;
}

std::optional<std::vector<DayUsage>> UsageBook::days(const BillingCycle &cycle)
{
    if (!db_.isOpen())
        return std::nullopt;
    std::vector<DayUsage> out;
    for (QDate d = cycle.first; d <= cycle.last; d = d.addDays(1))
        out.push_back({d, 0, 0, 0});
    QSqlQuery q = query(db_);
    const auto table = hasUsageTable(q);
    if (!table)
        return std::nullopt;
    if (*table) {
        if (!run(q,
                 QStringLiteral("SELECT day, SUM(bytesdown), SUM(bytesup) FROM usage WHERE day BETWEEN ? AND ?"
                                " GROUP BY day"),
                 {dayText(cycle.first), dayText(cycle.last)}))
            return std::nullopt;
        while (q.next()) {
            const qint64 i = cycle.first.daysTo(QDate::fromString(q.value(0).toString(), Qt::ISODate));
            if (i >= 0 && i < qint64(out.size())) {
                out[std::size_t(i)].down = static_cast<std::uint64_t>(q.value(1).toLongLong());
                out[std::size_t(i)].up = static_cast<std::uint64_t>(q.value(2).toLongLong());
            }
        }
    }
    // The log keeps a connection's date only as the locale's short text, so
    // its rows of the cycle's months are read and their day taken from it.
    const QLocale locale = QLocale::system();
    QDate month(cycle.first.year(), cycle.first.month(), 1);
    for (; month <= cycle.last; month = month.addMonths(1)) {
        if (!run(q,
                 QStringLiteral("SELECT a.tanggal, a.waktua * b.harga FROM log a, harga b"
                                " WHERE a.bulan=? AND a.tahun=? AND a.entry=b.entry"),
                 {month.toString(QStringLiteral("MM")), month.toString(QStringLiteral("yy"))}))
            return std::nullopt;
        while (q.next()) {
            const QDate parsed = locale.toDate(q.value(0).toString(), QLocale::ShortFormat);
            if (!parsed.isValid())
                continue;
            const QDate day(month.year(), month.month(), parsed.day());
            const qint64 i = cycle.first.daysTo(day);
            if (i >= 0 && i < qint64(out.size()))
                out[std::size_t(i)].cost += std::llround(q.value(1).toDouble() * 10000.0 / 3600.0);
        }
    }
    return out;
}

std::optional<std::uint64_t> UsageBook::bytesUsed(const BillingCycle &cycle)
{
    if (!db_.isOpen())
        return std::nullopt;
    QSqlQuery q = query(db_);
    const auto table = hasUsageTable(q);
    if (!table)
        return std::nullopt;
    if (!*table)
        return 0;
    if (!run(q, QStringLiteral("SELECT SUM(bytesdown)+SUM(bytesup) FROM usage WHERE day BETWEEN ? AND ?"),
             {dayText(cycle.first), dayText(cycle.last)}) ||
        !q.next())
        return std::nullopt;
    return static_cast<std::uint64_t>(q.value(0).toLongLong());
}

std::optional<std::int64_t> UsageBook::cost(const BillingCycle &cycle)
{
    const auto all = days(cycle);
    if (!all)
        return std::nullopt;
    std::int64_t sum = 0;
    for (const DayUsage &d : *all)
        sum += d.cost;
    return sum;
}

std::optional<CycleUsage> UsageBook::cycleUsage(const BillingCycle &cycle, std::uint64_t capBytes)
{
    auto rows = computers(cycle);
    if (!rows)
        return std::nullopt;
    CycleUsage u{cycle, std::move(*rows), 0, capBytes};
    for (const ComputerUsage &c : u.computers)
        u.used += c.total();
    return u;
}

}  // namespace velora::server::log
