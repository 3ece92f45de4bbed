#pragma once
// Helpers shared by the statement files of the log database; not for use
// outside server/log.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <string>
#include <vector>

#include "server/log/LogDatabase.h"
#include "server/state/Text.h"

namespace velora::server::log::sql {

inline QString text(const std::string &cp1252) { return state::shownText(cp1252); }
inline std::string bytes(const QVariant &v) { return state::typedText(v.toString()); }
inline QVariant integer(std::int64_t n) { return QVariant::fromValue<qlonglong>(static_cast<qlonglong>(n)); }

inline std::string describe(const QSqlError &e)
{
    const std::string d = e.driverText().toStdString(), db = e.databaseText().toStdString();
    return db.empty() ? d : d.empty() ? db : d + ": " + db;
}

inline bool run(QSqlQuery &q, const QString &statement, const std::vector<QVariant> &values)
{
    if (!q.prepare(statement))
        return false;
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec();
}

// Runs the body in one transaction; commits only when it succeeded.
template <typename Body>
bool inTransaction(const std::string &connection, Body body)
{
    QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection), false);
    if (!db.isOpen() || !db.transaction())
        return false;
    bool ok = false;
    {
        QSqlQuery q(db);
        ok = body(q);
    }
    if (ok && db.commit())
        return true;
    db.rollback();
    return false;
}

// The filter as a WHERE clause over columns named as in `log` (with the
// given table prefix) and the values to bind, in order.
struct Where {
    QString clause;
    std::vector<QVariant> values;
};

inline Where whereOf(const LogFilter &f, const QString &prefix)
{
    Where w{QStringLiteral(" WHERE 1=1"), {}};
    auto add = [&](const std::optional<std::string> &value, const char *column) {
        if (!value)
            return;
        w.clause += QStringLiteral(" AND ") + prefix + QLatin1String(column) + QStringLiteral("=?");
        w.values.push_back(text(*value));
    };
    add(f.bulan, "bulan");
    add(f.tahun, "tahun");
    add(f.entry, "Entry");
    add(f.usera, "Usera");
    return w;
}

}  // namespace velora::server::log::sql

namespace velora::server::log::totals {

// log_totals holds the count and sums of every (bulan, tahun, Entry, Usera)
// group, kept by triggers on `log`, so the viewer's summary reads a few rows
// instead of walking years of connections.
bool exists(QSqlQuery &q);
// Creates the table and its triggers where missing, and rebuilds the totals
// when they no longer match the rows (a file written without the triggers).
bool prepare(QSqlQuery &q);
// Bulk changes run with the triggers dropped and then rebuild the groups they
// touched; all inside the caller's transaction.
bool suspend(QSqlQuery &q);
bool resume(QSqlQuery &q);
// Recomputes the groups that the filter selects from the rows.
bool rebuild(QSqlQuery &q, const LogFilter &filter);
// Deletes the rows of the filter and their groups.
bool deleteRows(QSqlQuery &q, const LogFilter &filter);

}  // namespace velora::server::log::totals
