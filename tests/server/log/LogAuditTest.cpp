#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QSqlDatabase>
#include <QTime>
#include <QSqlQuery>
#include <QVariant>

#include <string>

#include "server/log/LogDatabase.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::log;

namespace {

// Writes a file the way an older server left it: the three tables, no audit.
void writeOldFile(const std::string &path)
{
    const QString name = QStringLiteral("old-writer");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "CREATE TABLE log (waktu TEXT, Usera TEXT, Entry TEXT, Duration TEXT, tanggal TEXT,"
            " id INTEGER PRIMARY KEY AUTOINCREMENT, speed INTEGER, bulan TEXT, tahun TEXT, waktua INTEGER)")));
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE harga (entry TEXT, harga NUMERIC)")));
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE smtp (entry TEXT, server TEXT, port TEXT)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,"
                                          "waktua) VALUES ('10:00:00','ana','Isp','0:01:00','1/2/26',0,'02','26',60)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO harga VALUES ('Isp', 3600)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

}  // namespace

TEST(LogAudit, OldFileGainsTheTableAndKeepsItsRows)
{
    test::TempDir dir;
    const std::string path = dir.file("old.db");
    writeOldFile(path);

    {
        LogDatabase reader;
        ASSERT_TRUE(reader.openForReading(path));
        const auto none = reader.auditRows(10);
        ASSERT_TRUE(none);
        EXPECT_TRUE(none->empty());
    }

    LogDatabase db;
    std::string why;
    ASSERT_TRUE(db.open(path, &why)) << why;
    const auto rows = db.rows({}, std::nullopt, 10);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ((*rows)[0].usera, "ana");
    EXPECT_EQ(db.harga("Isp"), std::optional<std::string>("3600"));
    ASSERT_TRUE(db.audit({0, 100, "ana", "pc1", "127.0.0.2", "dial", "Isp"}));
    const auto audit = db.auditRows(10);
    ASSERT_TRUE(audit);
    ASSERT_EQ(audit->size(), 1u);
    EXPECT_EQ((*audit)[0].action, "dial");
}

TEST(LogAudit, OddTextsAreStoredAsTheyAreNewestFirstWithinThePeriod)
{
    test::TempDir dir;
    LogDatabase db;
    ASSERT_TRUE(db.open(dir.file("log.db")));
    // Windows-1252 bytes: e acute, a quote that would end a literal, a long name.
    const std::string odd = std::string("Jos\xe9 O'Brien \"x\"; DROP TABLE audit;--") + std::string(300, 'n');
    ASSERT_TRUE(db.audit({0, 200, odd, "h\xf6st", "127.0.0.9", "lock", ""}));
    ASSERT_TRUE(db.audit({0, 300, "server", "", "", "idle hang-up", "Isp"}));
    ASSERT_TRUE(db.audit({0, 100, "operator", "local", "", "hang-up", ""}));

    const auto all = db.auditRows(10);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 3u);
    EXPECT_EQ((*all)[0].time, 300);
    EXPECT_EQ((*all)[1].user, odd);
    EXPECT_EQ((*all)[1].host, "h\xf6st");
    EXPECT_EQ((*all)[2].action, "hang-up");

    const auto period = db.auditRows(10, 150, 300);
    ASSERT_TRUE(period);
    ASSERT_EQ(period->size(), 1u);
    EXPECT_EQ((*period)[0].action, "lock");
    EXPECT_EQ(db.auditRows(1)->size(), 1u);
}

TEST(LogAudit, TheLogsMonthAndYearSelectRowsByLocalTime)
{
    test::TempDir dir;
    LogDatabase db;
    ASSERT_TRUE(db.open(dir.file("log.db")));
    const auto at = [](int y, int m, int d, int h, int min) {
        return QDateTime(QDate(y, m, d), QTime(h, min)).toSecsSinceEpoch();
    };
    // The edges of March 2004 in local time, and the same month a year on.
    ASSERT_TRUE(db.audit({0, at(2004, 2, 29, 23, 59), "u", "h", "a", "feb", ""}));
    ASSERT_TRUE(db.audit({0, at(2004, 3, 1, 0, 0), "u", "h", "a", "mar-first", ""}));
    ASSERT_TRUE(db.audit({0, at(2004, 3, 31, 23, 59), "u", "h", "a", "mar-last", ""}));
    ASSERT_TRUE(db.audit({0, at(2004, 4, 1, 0, 0), "u", "h", "a", "apr", ""}));
    ASSERT_TRUE(db.audit({0, at(2005, 3, 15, 12, 0), "u", "h", "a", "mar-2005", ""}));
    const auto actions = [&](std::optional<std::string> bulan, std::optional<std::string> tahun, int limit = -1) {
        LogFilter f;
        f.bulan = bulan;
        f.tahun = tahun;
        std::string out;
        EXPECT_TRUE(db.readAudit(f, [&](const AuditRow &r) { return out += r.action + " ", true; }, limit));
        return out + "(" + std::to_string(db.auditCount(f).value_or(-1)) + ")";
    };
    EXPECT_EQ(actions("03", "04"), "mar-last mar-first (2)");
    EXPECT_EQ(actions("03", std::nullopt), "mar-2005 mar-last mar-first (3)");
    EXPECT_EQ(actions(std::nullopt, "04"), "apr mar-last mar-first feb (4)");
    EXPECT_EQ(actions(std::nullopt, "04", 2), "apr mar-last (4)");  // the count is the period's
    EXPECT_EQ(actions("13", "04"), "(0)");  // no such month
}

TEST(LogAudit, WriteOnAClosedDatabaseFailsWithoutThrowing)
{
    LogDatabase db;
    EXPECT_FALSE(db.audit({0, 1, "u", "h", "a", "dial", "x"}));
    EXPECT_FALSE(db.auditRows(5));
}
