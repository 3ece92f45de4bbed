#include "server/log/LogDatabase.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

#include "server/log/LogSql.h"

namespace velora::server::log {

LogFilter monthOf(const QDate &day)
{
    LogFilter f;
    f.bulan = day.toString(QStringLiteral("MM")).toStdString();
    f.tahun = day.toString(QStringLiteral("yy")).toStdString();
    return f;
}

namespace {

// Column order is part of the format: readers take positions 0 to 6.
const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS log (waktu TEXT, Usera TEXT, Entry TEXT, Duration TEXT, tanggal TEXT,"
    " id INTEGER PRIMARY KEY AUTOINCREMENT, speed INTEGER, bulan TEXT, tahun TEXT, waktua INTEGER)",
    "CREATE TABLE IF NOT EXISTS harga (entry TEXT, harga NUMERIC)",
    "CREATE TABLE IF NOT EXISTS smtp (entry TEXT, server TEXT, port TEXT)",
    // The viewer filters on these four and the cost joins on the entry.
    "CREATE INDEX IF NOT EXISTS log_bulan ON log (bulan)",
    "CREATE INDEX IF NOT EXISTS log_tahun ON log (tahun)",
    "CREATE INDEX IF NOT EXISTS log_entry ON log (Entry)",
    "CREATE INDEX IF NOT EXISTS log_usera ON log (Usera)",
    "CREATE INDEX IF NOT EXISTS harga_entry ON harga (entry)",
    "CREATE INDEX IF NOT EXISTS smtp_entry ON smtp (entry)",
    // Added later: an older file gains it on open, its other tables untouched.
    "CREATE TABLE IF NOT EXISTS audit (id INTEGER PRIMARY KEY AUTOINCREMENT, waktu INTEGER, usera TEXT,"
    " host TEXT, address TEXT, action TEXT, detail TEXT)",
    "CREATE INDEX IF NOT EXISTS audit_waktu ON audit (waktu)",
    // The bytes of each office computer a day (UsageBook).
    "CREATE TABLE IF NOT EXISTS usage (day TEXT NOT NULL, address TEXT NOT NULL, name TEXT,"
    " bytesdown INTEGER NOT NULL DEFAULT 0, bytesup INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (day, address))",
};

const char *const kLogColumns[] = {"waktu", "usera", "entry", "duration", "tanggal",
                                   "id",    "speed", "bulan", "tahun",    "waktua"};

// Readers take columns by position: a log table of another layout would have
// its rows misread, so it is left alone.
bool foreignLayout(QSqlQuery &q)
{
    if (!q.exec(QStringLiteral("PRAGMA table_info(log)")))
        return true;
    int position = 0;
    bool layoutOk = true;
    while (q.next()) {
        if (position >= 10 || q.value(1).toString().compare(QLatin1String(kLogColumns[position]),
                                                            Qt::CaseInsensitive) != 0)
            layoutOk = false;
        ++position;
    }
    return position != 0 && (!layoutOk || position != 10);
}

// Long enough to ride out a viewer's read, short enough for the tick.
constexpr int kBusyTimeoutMs = 200;

using sql::bytes;
using sql::describe;
using sql::inTransaction;
using sql::integer;
using sql::run;
using sql::text;

}  // namespace

LogDatabase::LogDatabase()
{
    static std::atomic<int> counter{0};
    connection_ = "velora-log-" + std::to_string(++counter);
}

LogDatabase::~LogDatabase()
{
    if (QSqlDatabase::contains(QString::fromStdString(connection_))) {
        QSqlDatabase::database(QString::fromStdString(connection_), false).close();
        QSqlDatabase::removeDatabase(QString::fromStdString(connection_));
    }
}

bool LogDatabase::open(const std::string &path, std::string *why) { return openConnection(path, false, why); }

bool LogDatabase::openForReading(const std::string &path, std::string *why)
{
    return openConnection(path, true, why);
}

bool LogDatabase::openConnection(const std::string &path, bool readOnly, std::string *why)
{
    auto fail = [&](const std::string &reason) {
        if (why)
            *why = (readOnly ? "The connection log cannot be read: " : "The connection log is off: ") + reason;
        QSqlDatabase::database(QString::fromStdString(connection_), false).close();
        open_ = false;
        return false;
    };
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail("the SQLite driver of Qt is not installed (libqt6sql6-sqlite).");
    QSqlDatabase db = QSqlDatabase::contains(QString::fromStdString(connection_))
                          ? QSqlDatabase::database(QString::fromStdString(connection_), false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromStdString(connection_));
    // SQLite gives its -wal and -shm the database's mode: a new file starts
    // private, whoever opens it first.
    if (!readOnly) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    db.setDatabaseName(state::shownPath(path));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs) +
                         (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!db.open())
        return fail("cannot open " + path + " (" + describe(db.lastError()) + ").");
    {
        QSqlQuery q(db);
        // Reading first: a file that is not a database fails here, before
        // anything could be written to it.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            return fail(path + " is not a log database (" + describe(q.lastError()) + "); it is left as it is.");
        if (foreignLayout(q))
            return fail("the log table of " + path + " does not have the columns of a connection log; "
                        "the file is left as it is.");
        if (readOnly) {
            if (!q.exec(QStringLiteral("SELECT count(*) FROM log")))
                return fail(path + " holds no connection log.");
            totals_ = totals::exists(q);
            open_ = true;
            return true;
        }
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
            q.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
            return fail("cannot switch " + path + " to its write-ahead journal (" + describe(q.lastError()) + ").");
        // With WAL, NORMAL keeps the file consistent through a crash.
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    open_ = true;
    const bool made = inTransaction(connection_, [](QSqlQuery &q) {
        for (const char *statement : kSchema)
            if (!q.exec(QString::fromLatin1(statement)))
                return false;
        return totals::prepare(q);
    });
    if (!made)
        return fail("cannot create the tables of " + path + ".");
    totals_ = true;
    return true;
}

bool LogDatabase::writelog(int mode, state::ServerState &st)
{
    if (!open_)
        return false;
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(connection_), false));
    if (mode == 0) {
        const QDateTime now = QDateTime::currentDateTime();
        const QLocale locale = QLocale::system();
        if (st.ConnectionDialer.empty())
            st.ConnectionDialer = "Local";
        bool numeric = false;
        const int speed = QString::fromStdString(st.SpeedValue).toInt(&numeric);
        if (!run(q,
                 QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua)"
                                " VALUES (?,?,?,?,?,?,?,?,?)"),
                 {longTimeText(now.time()), text(st.ConnectionDialer), text(st.ActiveEntry),
                  text(st.TimeOnlineText), locale.toString(now.date(), QLocale::ShortFormat), numeric ? speed : 0,
                  now.toString(QStringLiteral("MM")), now.toString(QStringLiteral("yy")),
                  integer(static_cast<std::int64_t>(st.SecondsOnline))}))
            return false;
        rowId_ = q.lastInsertId().toLongLong();
        return true;
    }
    if (!rowId_)
        return false;
    return run(q, QStringLiteral("UPDATE log SET Duration=?, waktua=? WHERE id=?"),
               {text(st.TimeOnlineText), integer(static_cast<std::int64_t>(st.SecondsOnline)), integer(*rowId_)}) &&
           q.numRowsAffected() == 1;
}

QString LogDatabase::longTimeText(const QTime &time)
{
    // Qt's long format names the zone ("t"), which the column never held.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return locale.toString(time, format.trimmed());
}

std::optional<std::string> LogDatabase::harga(const std::string &entry)
{
    if (!open_)
        return std::nullopt;
    std::string cost = "0";
    const bool ok = inTransaction(connection_, [&](QSqlQuery &q) {
        if (!run(q, QStringLiteral("SELECT harga FROM harga WHERE entry=?"), {text(entry)}))
            return false;
        if (q.next())
            cost = bytes(q.value(0));
        return true;
    });
    return ok ? std::optional<std::string>(cost) : std::nullopt;
}

bool LogDatabase::saveHarga(const std::string &entry, const std::string &cost)
{
    const QString value = text(cost.empty() ? std::string("0") : cost);
    return open_ && inTransaction(connection_, [&](QSqlQuery &q) {
               if (!run(q, QStringLiteral("SELECT count(*) FROM harga WHERE entry=? AND entry<>''"), {text(entry)}) ||
                   !q.next())
                   return false;
               if (q.value(0).toInt() > 0)
                   return run(q, QStringLiteral("UPDATE harga SET harga=? WHERE entry=?"), {value, text(entry)});
               return run(q, QStringLiteral("INSERT INTO harga (entry,harga) VALUES (?,?)"), {text(entry), value});
           });
}

std::optional<SmtpServer> LogDatabase::smtp(const std::string &entry)
{
    if (!open_)
        return std::nullopt;
    std::optional<SmtpServer> found;
    const bool ok = inTransaction(connection_, [&](QSqlQuery &q) {
        if (!run(q, QStringLiteral("SELECT server,port FROM smtp WHERE entry=?"), {text(entry)}))
            return false;
        if (q.next())
            found = SmtpServer{bytes(q.value(0)), bytes(q.value(1))};
        return true;
    });
    return ok ? found : std::nullopt;
}

bool LogDatabase::saveSmtp(const std::string &entry, const SmtpServer &server)
{
    return open_ && inTransaction(connection_, [&](QSqlQuery &q) {
               if (!run(q, QStringLiteral("SELECT count(*) FROM smtp WHERE entry=? AND entry<>''"), {text(entry)}) ||
                   !q.next())
                   return false;
               if (q.value(0).toInt() > 0)
                   return run(q, QStringLiteral("UPDATE smtp SET server=?, port=? WHERE entry=?"),
                              {text(server.server), text(server.port), text(entry)});
               return run(q, QStringLiteral("INSERT INTO smtp (entry,server,port) VALUES (?,?,?)"),
                          {text(entry), text(server.server), text(server.port)});
           });
}

std::optional<std::int64_t> LogDatabase::costTenThousandths(const LogFilter &filter)
{
    const auto s = summary(filter);
    return s ? std::optional<std::int64_t>(s->costTenThousandths) : std::nullopt;
}

std::optional<std::string> LogDatabase::totalCost(const LogFilter &filter, const NumberSeparators &seps)
{
    const auto cost = costTenThousandths(filter);
    return cost ? std::optional<std::string>(formatCost(*cost, seps)) : std::nullopt;
}

bool LogDatabase::renameEntry(const std::string &oldName, const std::string &newName)
{
    LogFilter was, is;
    was.entry = oldName;
    is.entry = newName;
    return open_ && inTransaction(connection_, [&](QSqlQuery &q) {
               return totals::suspend(q) &&
                      run(q, QStringLiteral("UPDATE log SET Entry=? WHERE Entry=?"), {text(newName), text(oldName)}) &&
                      totals::rebuild(q, was) && totals::rebuild(q, is) && totals::resume(q) &&
                      run(q, QStringLiteral("UPDATE harga SET entry=? WHERE entry=?"), {text(newName), text(oldName)}) &&
                      run(q, QStringLiteral("UPDATE smtp SET entry=? WHERE entry=?"), {text(newName), text(oldName)});
           });
}

bool LogDatabase::deleteEntryData(const std::string &entry)
{
    LogFilter of;
    of.entry = entry;
    return open_ && inTransaction(connection_, [&](QSqlQuery &q) {
               return totals::deleteRows(q, of) &&
                      run(q, QStringLiteral("DELETE FROM harga WHERE entry=?"), {text(entry)}) &&
                      run(q, QStringLiteral("DELETE FROM smtp WHERE entry=?"), {text(entry)});
           });
}

std::string formatCost(std::int64_t tenThousandths, const NumberSeparators &seps)
{
    const bool negative = tenThousandths < 0;
    const std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(tenThousandths + 1)) + 1 : static_cast<std::uint64_t>(tenThousandths);
    const std::uint64_t hundredths = (magnitude + 50) / 100;
    const std::string shown = formatFixed2(hundredths, seps);
    return negative && hundredths > 0 ? "-" + shown : shown;
}

}  // namespace velora::server::log
