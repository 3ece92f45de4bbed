#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <string>
#include <vector>

#include "server/log/LogDatabase.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::log;

namespace {

// Rows written straight into the file, as another tool would, so the
// viewer is tested on the months, years and speeds it must tell apart.
struct Writer {
    QString name = QStringLiteral("view-writer");
    explicit Writer(const std::string &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QString::fromStdString(path));
        db.open();
    }
    ~Writer()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    void row(const std::string &user, const std::string &entry, const char *bulan, const char *tahun, int speed,
             int seconds)
    {
        QSqlQuery q(QSqlDatabase::database(name, false));
        q.prepare(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua)"
                                 " VALUES ('10:00:00',?,?,'0:0:0','1/2/04',?,?,?,?)"));
        for (const QVariant &v : {QVariant(QString::fromLatin1(user.c_str())),
                                  QVariant(QString::fromLatin1(entry.c_str())), QVariant(speed),
                                  QVariant(QString::fromLatin1(bulan)), QVariant(QString::fromLatin1(tahun)),
                                  QVariant(seconds)})
            q.addBindValue(v);
        ASSERT_TRUE(q.exec());
    }
    void exec(const QString &sql) { ASSERT_TRUE(QSqlQuery(QSqlDatabase::database(name, false)).exec(sql)) << sql.toStdString(); }
};

// The value of a query that must have worked.
template <class T>
T got(std::optional<T> o)
{
    EXPECT_TRUE(o.has_value());
    return o ? std::move(*o) : T{};
}

struct LogView : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.file("log.db");
    LogDatabase db;
    void SetUp() override { ASSERT_TRUE(db.open(path)); }

    SummaryTexts texts(const LogFilter &f = {}) { return summaryTexts(got(db.summary(f)), {}); }
    std::vector<std::string> entriesShown(const LogFilter &f)
    {
        std::vector<std::string> out;
        const std::vector<LogRow> rows = got(db.rows(f, std::nullopt, 1000));
        for (const LogRow &r : rows)
            out.push_back(r.entry);
        return out;
    }
};

LogFilter byEntry(const std::string &e)
{
    LogFilter f;
    f.entry = e;
    return f;
}

}  // namespace

TEST_F(LogView, SummaryFollowsTheEdgeCasesOfTheViewer)
{
    const SummaryTexts none = texts();
    EXPECT_EQ(none.count + "|" + none.speed + "|" + none.time + "|" + none.cost, "0|0|0|0.00");

    Writer w(path);
    w.row("pc1", "Fast", "03", "04", 115200, 3000);
    w.row("pc1", "Fast", "03", "04", 57600, 700);
    w.row("pc2", "Slow", "03", "05", 0, 23);  // counts for time, not for the average
    const SummaryTexts all = texts();
    EXPECT_EQ(all.count, "3");
    EXPECT_EQ(all.speed, "86400 bps");
    EXPECT_EQ(all.time, "1:2:3");

    LogFilter march2004;
    march2004.bulan = "03";
    march2004.tahun = "04";
    EXPECT_EQ(entriesShown(march2004), (std::vector<std::string>{"Fast", "Fast"}));
    EXPECT_EQ(texts(march2004).count, "2");
    LogFilter slowOnly = byEntry("Slow");
    EXPECT_EQ(texts(slowOnly).speed, "0") << "no row with a speed";

    // The cost example: 3000 per hour, 90 s.
    w.row("pc3", "Metered", "04", "04", 0, 90);
    ASSERT_TRUE(db.saveHarga("Metered", "3000"));
    EXPECT_EQ(texts().cost, "75.00");
    EXPECT_EQ(texts(byEntry("Metered")).cost, "75.00");
    EXPECT_EQ(texts(byEntry("Fast")).cost, "0.00");

    // Updates keep the group sums right (the connection tick rewrites rows).
    w.exec(QStringLiteral("UPDATE log SET waktua=180 WHERE Entry='Metered'"));
    EXPECT_EQ(texts().cost, "150.00");
    EXPECT_EQ(texts(byEntry("Metered")).time, "0:3:0");
}

TEST_F(LogView, NamesMatchExactlyAndClearDeletesWhatTheGridShows)
{
    Writer w(path);
    w.row("u_1", "A_1", "01", "26", 0, 1);
    w.row("ux1", "AB1", "01", "26", 0, 2);
    w.row("pc\"q", "Say \"hi\"", "02", "26", 0, 4);
    w.row("pc1", "100%", "02", "26", 0, 8);
    w.row("pc1", "1000", "02", "26", 0, 16);

    EXPECT_EQ(entriesShown(byEntry("A_1")), (std::vector<std::string>{"A_1"}));
    EXPECT_EQ(entriesShown(byEntry("100%")), (std::vector<std::string>{"100%"}));
    EXPECT_EQ(entriesShown(byEntry("Say \"hi\"")), (std::vector<std::string>{"Say \"hi\""}));
    LogFilter quotedUser;
    quotedUser.usera = "pc\"q";
    EXPECT_EQ(texts(quotedUser).count, "1");
    EXPECT_EQ(got(db.distinctEntries()), (std::vector<std::string>{"100%", "1000", "AB1", "A_1", "Say \"hi\""}));
    EXPECT_EQ(got(db.distinctUsers()), (std::vector<std::string>{"pc\"q", "pc1", "u_1", "ux1"}));

    ASSERT_TRUE(db.clearLog(byEntry("A_1")));
    EXPECT_EQ(texts().count, "4");
    EXPECT_EQ(texts().time, "0:0:30");
    ASSERT_TRUE(db.clearLog(byEntry("Say \"hi\"")));
    EXPECT_EQ(got(db.distinctEntries()), (std::vector<std::string>{"100%", "1000", "AB1"}));
    LogFilter february;
    february.bulan = "02";
    ASSERT_TRUE(db.clearLog(february));
    EXPECT_EQ(entriesShown({}), (std::vector<std::string>{"AB1"}));
    ASSERT_TRUE(db.clearLog({}));
    EXPECT_EQ(texts().count, "0");
    EXPECT_TRUE(got(db.distinctUsers()).empty());
}

TEST_F(LogView, PagesRunNewestFirstWithoutGapsOrRepeats)
{
    Writer w(path);
    for (int i = 0; i < 25; ++i)
        w.row("pc", i % 2 ? "Odd" : "Even", "05", "26", 0, i);
    std::vector<std::int64_t> ids;
    std::optional<std::int64_t> before;
    for (;;) {
        const auto page = got(db.rows(byEntry("Odd"), before, 5));
        if (page.empty())
            break;
        for (const LogRow &r : page)
            ids.push_back(r.id);
        before = page.back().id;
    }
    ASSERT_EQ(ids.size(), 12u);
    for (std::size_t i = 1; i < ids.size(); ++i)
        EXPECT_EQ(ids[i - 1] - ids[i], 2) << "every odd row once, newest first";
}

TEST_F(LogView, TotalsAreRebuiltForAFileWrittenWithoutThem)
{
    {
        Writer w(path);
        w.row("pc1", "Old", "06", "26", 9600, 60);
        w.exec(QStringLiteral("DROP TRIGGER log_totals_insert"));
        w.row("pc1", "Old", "06", "26", 9600, 60);  // not counted in the totals
        w.exec(QStringLiteral("DROP TABLE log_totals"));
        w.row("pc2", "New", "06", "26", 0, 1);
    }
    LogDatabase again;
    ASSERT_TRUE(again.open(path));
    const SummaryTexts t = summaryTexts(got(again.summary({})), {});
    EXPECT_EQ(t.count + "|" + t.speed + "|" + t.time, "3|9600 bps|0:2:1");

    // A reader beside the server sums the same, with or without the totals.
    LogDatabase reader;
    ASSERT_TRUE(reader.openForReading(path));
    LogSummary s;
    std::vector<std::string> seen;
    ASSERT_TRUE(reader.readReport({}, s, [&](const LogRow &r, std::int64_t) {
        seen.push_back(r.usera + ":" + r.speed);
        return true;
    }));
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(seen, (std::vector<std::string>{"pc2:0", "pc1:9600", "pc1:9600"}));
    EXPECT_FALSE(reader.clearLog({})) << "a reader changes nothing";
}

TEST_F(LogView, RenameMergesIntoAnExistingNameAndDeleteDropsItsGroups)
{
    Writer w(path);
    w.row("pc", "Old", "07", "26", 0, 10);
    w.row("pc", "New", "07", "26", 0, 5);
    ASSERT_TRUE(db.renameEntry("Old", "New"));
    EXPECT_EQ(texts(byEntry("New")).time, "0:0:15");
    EXPECT_EQ(texts(byEntry("Old")).count, "0");
    w.row("pc", "New", "07", "26", 0, 1);  // the triggers are back after the rename
    EXPECT_EQ(texts(byEntry("New")).count, "3");
    ASSERT_TRUE(db.deleteEntryData("New"));
    EXPECT_EQ(texts().count, "0");
    EXPECT_TRUE(got(db.distinctEntries()).empty());
}
