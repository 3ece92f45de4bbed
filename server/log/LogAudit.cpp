#include "server/log/LogDatabase.h"
#include "server/log/LogSql.h"

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

bool LogDatabase::readAudit(const LogFilter &filter, const std::function<bool(const AuditRow &)> &row)
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
    // As the log's bulan and tahun: two digits of the local month and year.
    QString statement = QStringLiteral("SELECT id,waktu,usera,host,address,action,detail FROM audit WHERE 1=1");
    std::vector<QVariant> values;
    if (filter.bulan) {
        statement += QStringLiteral(" AND strftime('%m',waktu,'unixepoch','localtime')=?");
        values.push_back(text(*filter.bulan));
    }
    if (filter.tahun) {
        statement += QStringLiteral(" AND substr(strftime('%Y',waktu,'unixepoch','localtime'),3)=?");
        values.push_back(text(*filter.tahun));
    }
    statement += QStringLiteral(" ORDER BY waktu DESC, id DESC");
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
