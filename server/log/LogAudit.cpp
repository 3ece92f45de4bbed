#include "server/log/LogDatabase.h"
#include "server/log/LogSql.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cctype>

namespace velora::server::log {

using sql::bytes;
using sql::integer;
using sql::run;
using sql::text;

bool LogDatabase::audit(const AuditRow &row)
{
    if (!open_)
        return false;
    // No transaction of its own: one INSERT is atomic, and a busy file fails
    // after the short busy timeout instead of holding the tick.
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
    return run(q,
               QStringLiteral("INSERT INTO audit (waktu,usera,host,address,action,detail) VALUES (?,?,?,?,?,?)"),
               {integer(row.time), text(row.user), text(row.host), text(row.address), text(row.action),
                text(row.detail)});
}

std::optional<int> LogDatabase::pruneAudit(std::int64_t before, int limit)
{
    if (!open_)
        return std::nullopt;
    // A few rows a step through the time index: the tick is never held long.
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
    if (!run(q, QStringLiteral("DELETE FROM audit WHERE id IN (SELECT id FROM audit WHERE waktu < ? ORDER BY waktu LIMIT ?)"),
             {integer(before), integer(limit)}))
        return std::nullopt;
    return q.numRowsAffected();
}

namespace {
// A file opened for reading may predate the table: it simply has no rows.
std::optional<bool> hasAuditTable(QSqlQuery &q)
{
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='audit'")) ||
        !q.next())
        return std::nullopt;
    return q.value(0).toInt() > 0;
}

AuditRow auditRowOf(const QSqlQuery &q)
{
    return AuditRow{q.value(0).toLongLong(), q.value(1).toLongLong(), bytes(q.value(2)), bytes(q.value(3)),
                    bytes(q.value(4)), bytes(q.value(5)), bytes(q.value(6))};
}
}  // namespace

namespace {
std::optional<int> twoDigitsOf(const std::optional<std::string> &t, int low, int high)
{
    if (!t || t->size() != 2 || !std::isdigit(static_cast<unsigned char>((*t)[0])) ||
        !std::isdigit(static_cast<unsigned char>((*t)[1])))
        return std::nullopt;
    const int v = ((*t)[0] - '0') * 10 + ((*t)[1] - '0');
    return v >= low && v <= high ? std::optional<int>(v) : std::nullopt;
}

// As the log's bulan and tahun: two digits of the local month and year.
QString periodClause(const LogFilter &filter, std::vector<QVariant> &values)
{
    QString clause = QStringLiteral(" WHERE 1=1");
    // A year, or a month of a year, is a span of time the index finds.
    const auto year = twoDigitsOf(filter.tahun, 0, 99);
    const auto month = twoDigitsOf(filter.bulan, 1, 12);
    if (year && (month || !filter.bulan)) {
        const QDate first(2000 + *year, month.value_or(1), 1);
        const QDate next = month ? first.addMonths(1) : first.addYears(1);
        clause += QStringLiteral(" AND waktu>=? AND waktu<?");
        values.push_back(integer(QDateTime(first, QTime(0, 0)).toSecsSinceEpoch()));
        values.push_back(integer(QDateTime(next, QTime(0, 0)).toSecsSinceEpoch()));
        return clause;
    }
    if (filter.bulan) {
        clause += QStringLiteral(" AND strftime('%m',waktu,'unixepoch','localtime')=?");
        values.push_back(text(*filter.bulan));
    }
    if (filter.tahun) {
        clause += QStringLiteral(" AND substr(strftime('%Y',waktu,'unixepoch','localtime'),3)=?");
        values.push_back(text(*filter.tahun));
    }
    return clause;
}
}  // namespace

std::optional<std::int64_t> LogDatabase::auditCount(const LogFilter &filter)
{
    if (!open_)
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
    const auto table = hasAuditTable(q);
    if (!table)
        return std::nullopt;
    if (!*table)
        return 0;
    std::vector<QVariant> values;
    const QString statement = QStringLiteral("SELECT count(*) FROM audit") + periodClause(filter, values);
    if (!run(q, statement, values) || !q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool LogDatabase::readAudit(const LogFilter &filter, const std::function<bool(const AuditRow &)> &row, int limit)
{
    if (!open_)
        return false;
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
    q.setForwardOnly(true);
    const auto table = hasAuditTable(q);
    if (!table)
        return false;
    if (!*table)
        return true;
    std::vector<QVariant> values;
    QString statement = QStringLiteral("SELECT id,waktu,usera,host,address,action,detail FROM audit") +
                        periodClause(filter, values) + QStringLiteral(" ORDER BY waktu DESC, id DESC LIMIT ?");
    values.push_back(limit);
    if (!run(q, statement, values))
        return false;
    while (q.next())
        if (!row(auditRowOf(q)))
            return true;
    return !q.lastError().isValid();
}

std::optional<std::vector<AuditRow>> LogDatabase::auditRows(int limit, std::optional<std::int64_t> from,
                                                            std::optional<std::int64_t> to)
{
    if (!open_)
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
    const auto table = hasAuditTable(q);
    if (!table)
        return std::nullopt;
    std::vector<AuditRow> out;
    if (!*table)
        return out;
    QString statement = QStringLiteral("SELECT id,waktu,usera,host,address,action,detail FROM audit WHERE 1=1");
    std::vector<QVariant> values;
    if (from) {
        statement += QStringLiteral(" AND waktu>=?");
        values.push_back(integer(*from));
    }
    if (to) {
        statement += QStringLiteral(" AND waktu<?");
        values.push_back(integer(*to));
    }
    statement += QStringLiteral(" ORDER BY waktu DESC, id DESC LIMIT ?");
    values.push_back(limit);
    if (!run(q, statement, values))
        return std::nullopt;
    while (q.next())
        out.push_back(auditRowOf(q));
    return out;
}

}  // namespace velora::server::log
