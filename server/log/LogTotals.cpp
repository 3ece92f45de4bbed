#include "server/log/LogSql.h"

namespace velora::server::log::totals {

namespace {

// A row's contribution; NULLs of rows written by other tools count as empty
// texts and zeros, so every row lands in exactly one group.
#define VELORA_GROUP(r) "ifnull(" r ".bulan,''), ifnull(" r ".tahun,''), ifnull(" r ".Entry,''), ifnull(" r ".Usera,'')"
#define VELORA_SPEED(r) "ifnull(CAST(" r ".speed AS INTEGER),0)"
#define VELORA_SECS(r) "ifnull(CAST(" r ".waktua AS INTEGER),0)"
#define VELORA_MATCH(r)                                                                                        \
    "bulan=ifnull(" r ".bulan,'') AND tahun=ifnull(" r ".tahun,'') AND Entry=ifnull(" r ".Entry,'') AND " \
    "Usera=ifnull(" r ".Usera,'')"
#define VELORA_ADD(r)                                                                                                 \
    "INSERT INTO log_totals VALUES (" VELORA_GROUP(r) ", 1, " VELORA_SECS(r) ", " VELORA_SPEED(r) ", " VELORA_SPEED( \
        r) "<>0) ON CONFLICT DO UPDATE SET n=n+1, secs=secs+excluded.secs, speedsum=speedsum+excluded.speedsum,"     \
           " speedn=speedn+excluded.speedn;"
#define VELORA_SUBTRACT(r)                                                                                 \
    "UPDATE log_totals SET n=n-1, secs=secs-" VELORA_SECS(r) ", speedsum=speedsum-" VELORA_SPEED(r) ", " \
    "speedn=speedn-(" VELORA_SPEED(r) "<>0) WHERE " VELORA_MATCH(r) ";"

const char *const kTable =
    "CREATE TABLE IF NOT EXISTS log_totals (bulan TEXT NOT NULL, tahun TEXT NOT NULL, Entry TEXT NOT NULL,"
    " Usera TEXT NOT NULL, n INTEGER NOT NULL, secs INTEGER NOT NULL, speedsum INTEGER NOT NULL,"
    " speedn INTEGER NOT NULL, PRIMARY KEY (bulan, tahun, Entry, Usera)) WITHOUT ROWID";

const char *const kTriggers[] = {
    "CREATE TRIGGER IF NOT EXISTS log_totals_insert AFTER INSERT ON log BEGIN " VELORA_ADD("new") " END",
    "CREATE TRIGGER IF NOT EXISTS log_totals_delete AFTER DELETE ON log BEGIN " VELORA_SUBTRACT("old") " END",
    "CREATE TRIGGER IF NOT EXISTS log_totals_update AFTER UPDATE OF bulan, tahun, Entry, Usera, speed, waktua"
    " ON log BEGIN " VELORA_SUBTRACT("old") " " VELORA_ADD("new") " END",
};
const char *const kTriggerNames[] = {"log_totals_insert", "log_totals_delete", "log_totals_update"};

const char *const kRegroup =
    "INSERT INTO log_totals SELECT " VELORA_GROUP("a") ", COUNT(*), SUM(" VELORA_SECS("a") "), SUM(CASE WHEN " VELORA_SPEED(
        "a") "<>0 THEN " VELORA_SPEED("a") " ELSE 0 END), SUM(" VELORA_SPEED("a") "<>0) FROM log a";

bool scalar(QSqlQuery &q, const QString &statement, qlonglong &out)
{
    if (!q.exec(statement) || !q.next())
        return false;
    out = q.value(0).toLongLong();
    return true;
}

}  // namespace

bool exists(QSqlQuery &q)
{
    qlonglong n = 0;
    return scalar(q, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='trigger' AND name LIKE 'log_totals_%'"),
                  n) &&
           n == 3;
}

bool prepare(QSqlQuery &q)
{
    if (!q.exec(QString::fromLatin1(kTable)) || !resume(q))
        return false;
    qlonglong rows = 0, counted = 0;
    if (!scalar(q, QStringLiteral("SELECT count(*) FROM log"), rows) ||
        !scalar(q, QStringLiteral("SELECT ifnull(SUM(n),0) FROM log_totals"), counted))
        return false;
    return rows == counted || rebuild(q, {});
}

bool suspend(QSqlQuery &q)
{
    for (const char *name : kTriggerNames)
        if (!q.exec(QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(QLatin1String(name))))
            return false;
    return true;
}

bool resume(QSqlQuery &q)
{
    for (const char *ddl : kTriggers)
        if (!q.exec(QString::fromLatin1(ddl)))
            return false;
    return true;
}

bool rebuild(QSqlQuery &q, const LogFilter &filter)
{
    const sql::Where plain = sql::whereOf(filter, QString());
    const sql::Where rows = sql::whereOf(filter, QStringLiteral("a."));
    return sql::run(q, QStringLiteral("DELETE FROM log_totals") + plain.clause, plain.values) &&
           sql::run(q, QString::fromLatin1(kRegroup) + rows.clause + QStringLiteral(" GROUP BY 1, 2, 3, 4"),
                    rows.values);
}

bool deleteRows(QSqlQuery &q, const LogFilter &filter)
{
    const sql::Where rows = sql::whereOf(filter, QString());
    return suspend(q) && sql::run(q, QStringLiteral("DELETE FROM log") + rows.clause, rows.values) &&
           rebuild(q, filter) && resume(q);
}

}  // namespace velora::server::log::totals
