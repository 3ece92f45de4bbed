#include "server/log/LogSql.h"

// The viewer's statements: the grid's pages, the summary, the name lists,
// clearing, and the report's snapshot.

namespace velora::server::log {

using sql::bytes;
using sql::inTransaction;
using sql::integer;
using sql::run;
using sql::text;
using sql::Where;
using sql::whereOf;

namespace {

const QString kRowColumns = QStringLiteral("SELECT a.waktu, a.Usera, a.Entry, a.Duration, a.tanggal, a.id, a.speed FROM log a");

LogRow rowOf(const QSqlQuery &q)
{
    LogRow r;
    r.waktu = bytes(q.value(0));
    r.usera = bytes(q.value(1));
    r.entry = bytes(q.value(2));
    r.duration = bytes(q.value(3));
    r.tanggal = bytes(q.value(4));
    r.id = q.value(5).toLongLong();
    r.speed = bytes(q.value(6));
    return r;
}

std::optional<std::vector<std::string>> names(const std::string &connection, const QString &statement)
{
    std::vector<std::string> out;
    const bool ok = inTransaction(connection, [&](QSqlQuery &q) {
        if (!q.exec(statement))
            return false;
        while (q.next())
            out.push_back(bytes(q.value(0)));
        return true;
    });
    return ok ? std::optional<std::vector<std::string>>(std::move(out)) : std::nullopt;
}

}  // namespace

std::optional<std::vector<LogRow>> LogDatabase::rows(const LogFilter &filter, std::optional<std::int64_t> beforeId,
                                                     int limit)
{
    if (!open_)
        return std::nullopt;
    Where w = whereOf(filter, QStringLiteral("a."));
    if (beforeId) {
        w.clause += QStringLiteral(" AND a.id<?");
        w.values.push_back(integer(*beforeId));
    }
    w.values.push_back(limit);
    std::vector<LogRow> out;
    const bool ok = inTransaction(connection_, [&](QSqlQuery &q) {
        q.setForwardOnly(true);
        if (!run(q, kRowColumns + w.clause + QStringLiteral(" ORDER BY a.id DESC LIMIT ?"), w.values))
            return false;
        while (q.next())
            out.push_back(rowOf(q));
        return true;
    });
    return ok ? std::optional<std::vector<LogRow>>(std::move(out)) : std::nullopt;
}

std::optional<LogSummary> LogDatabase::summaryIn(QSqlQuery &q, const LogFilter &filter)
{
    LogSummary s;
    // With the totals a summary reads one row per group, not per connection.
    const QString source = totals_ ? QStringLiteral("log_totals") : QStringLiteral("log");
    const QString sums =
        totals_ ? QStringLiteral("SELECT SUM(a.n), SUM(a.secs), SUM(a.speedsum), SUM(a.speedn)")
                : QStringLiteral("SELECT COUNT(*), SUM(a.waktua), SUM(CASE WHEN a.speed<>0 THEN a.speed ELSE 0 END),"
                                 " SUM(a.speed<>0)");
    const QString seconds = totals_ ? QStringLiteral("a.secs") : QStringLiteral("a.waktua");
    const Where w = whereOf(filter, QStringLiteral("a."));
    if (!run(q, sums + QStringLiteral(" FROM ") + source + QStringLiteral(" a") + w.clause, w.values) || !q.next())
        return std::nullopt;
    s.count = q.value(0).toLongLong();  // NULL of an empty set reads 0
    s.seconds = q.value(1).toLongLong();
    s.speedSum = q.value(2).toLongLong();
    s.speedCount = q.value(3).toLongLong();
    // Seconds times the cost in ten-thousandths sum exactly as integers; the
    // one division comes last.
    if (!run(q,
             QStringLiteral("SELECT SUM(") + seconds + QStringLiteral(" * CAST(ROUND(b.harga * 10000) AS INTEGER)) FROM ") +
                 source + QStringLiteral(" a, harga b") + w.clause + QStringLiteral(" AND a.Entry = b.entry"),
             w.values) ||
        !q.next())
        return std::nullopt;
    const std::int64_t sum = q.value(0).toLongLong();
    s.costTenThousandths = (sum + (sum < 0 ? -1800 : 1800)) / 3600;
    return s;
}

std::optional<LogSummary> LogDatabase::summary(const LogFilter &filter)
{
    if (!open_)
        return std::nullopt;
    std::optional<LogSummary> out;
    inTransaction(connection_, [&](QSqlQuery &q) {
        out = summaryIn(q, filter);
        return out.has_value();
    });
    return out;
}

std::optional<std::vector<std::string>> LogDatabase::distinctEntries()
{
    if (!open_)
        return std::nullopt;
    return names(connection_, totals_ ? QStringLiteral("SELECT DISTINCT Entry FROM log_totals WHERE n>0 ORDER BY 1")
                                      : QStringLiteral("SELECT DISTINCT Entry FROM log ORDER BY 1"));
}

std::optional<std::vector<std::string>> LogDatabase::distinctUsers()
{
    if (!open_)
        return std::nullopt;
    return names(connection_, totals_ ? QStringLiteral("SELECT DISTINCT Usera FROM log_totals WHERE n>0 ORDER BY 1")
                                      : QStringLiteral("SELECT DISTINCT Usera FROM log ORDER BY 1"));
}

bool LogDatabase::clearLog(const LogFilter &filter)
{
    return open_ && totals_ &&
           inTransaction(connection_, [&](QSqlQuery &q) { return totals::deleteRows(q, filter); });
}

bool LogDatabase::readReport(const LogFilter &filter, LogSummary &summary,
                             const std::function<bool(const LogRow &, std::int64_t done)> &row)
{
    if (!open_)
        return false;
    // One read transaction: the rows and the summary come from the same
    // snapshot while the server goes on writing.
    return inTransaction(connection_, [&](QSqlQuery &q) {
        const auto s = summaryIn(q, filter);
        if (!s)
            return false;
        summary = *s;
        const Where w = whereOf(filter, QStringLiteral("a."));
        q.setForwardOnly(true);
        if (!run(q, kRowColumns + w.clause + QStringLiteral(" ORDER BY a.id DESC"), w.values))
            return false;
        std::int64_t done = 0;
        while (q.next())
            if (!row(rowOf(q), ++done))
                return false;
        return true;
    });
}

SummaryTexts summaryTexts(const LogSummary &s, const NumberSeparators &seps)
{
    SummaryTexts t;
    if (s.count > 0) {
        t.count = std::to_string(s.count);
        t.time = olahwaktu(static_cast<std::uint64_t>(s.seconds < 0 ? 0 : s.seconds));
    }
    if (s.speedCount > 0)
        t.speed = std::to_string(s.speedSum / s.speedCount) + " bps";
    t.cost = formatCost(s.costTenThousandths, seps);
    return t;
}

}  // namespace velora::server::log
