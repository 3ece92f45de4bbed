#include <gtest/gtest.h>

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/log/LogDatabase.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::log;
using velora::server::state::ServerState;

namespace {

// A second connection, as another reader of the file would have.
struct Reader {
    QString name;
    explicit Reader(const std::string &path) : name(QStringLiteral("reader-%1").arg(reinterpret_cast<quintptr>(this)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QString::fromStdString(path));
        db.open();
    }
    ~Reader()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    // Every row of the query, each column as text.
    std::vector<std::vector<std::string>> rows(const QString &sql)
    {
        std::vector<std::vector<std::string>> out;
        QSqlQuery q(QSqlDatabase::database(name, false));
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        while (q.next()) {
            std::vector<std::string> row;
            for (int i = 0; q.value(i).isValid(); ++i)
                row.push_back(q.value(i).toString().toStdString());
            out.push_back(row);
        }
        return out;
    }
};

struct LogDatabaseFixture : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.file("log.db");
    LogDatabase db;
    ServerState st;

    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(db.open(path, &why)) << why;
    }
    std::int64_t insert(const std::string &dialer, const std::string &entry, std::uint64_t seconds)
    {
        st.ConnectionDialer = dialer;
        st.ActiveEntry = entry;
        st.SecondsOnline = seconds;
        st.TimeOnlineText = olahwaktu(seconds);
        st.SpeedValue = "56000";
        EXPECT_TRUE(db.writelog(0, st));
        return db.openRowId().value_or(-1);
    }
};

}  // namespace

TEST_F(LogDatabaseFixture, CreatesTheSchemaInItsColumnOrderWithWalAndIndexes)
{
    Reader r(path);
    const auto columns = r.rows(QStringLiteral("PRAGMA table_info(log)"));
    ASSERT_EQ(columns.size(), 10u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"waktu", "TEXT"}, {"Usera", "TEXT"},   {"Entry", "TEXT"},   {"Duration", "TEXT"}, {"tanggal", "TEXT"},
        {"id", "INTEGER"}, {"speed", "INTEGER"}, {"bulan", "TEXT"},  {"tahun", "TEXT"},    {"waktua", "INTEGER"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(columns[i][0], std::to_string(i));
        EXPECT_EQ(columns[i][1], expected[i].first);
        EXPECT_EQ(columns[i][2], expected[i].second);
        EXPECT_EQ(columns[i][5], i == 5 ? "1" : "0") << "only id is the key";
    }
    const auto harga = r.rows(QStringLiteral("PRAGMA table_info(harga)"));
    ASSERT_EQ(harga.size(), 2u);
    EXPECT_EQ(harga[0][1], "entry");
    EXPECT_EQ(harga[1][1], "harga");
    const auto smtp = r.rows(QStringLiteral("PRAGMA table_info(smtp)"));
    ASSERT_EQ(smtp.size(), 3u);
    EXPECT_EQ(smtp[0][1] + "," + smtp[1][1] + "," + smtp[2][1], "entry,server,port");

    EXPECT_EQ(r.rows(QStringLiteral("PRAGMA journal_mode"))[0][0], "wal");
    std::string indexed;
    for (const auto &row : r.rows(QStringLiteral("SELECT group_concat(name) FROM pragma_index_info('log_bulan')"
                                                 " UNION ALL SELECT name FROM pragma_index_info('log_tahun')"
                                                 " UNION ALL SELECT name FROM pragma_index_info('log_entry')"
                                                 " UNION ALL SELECT name FROM pragma_index_info('log_usera')"
                                                 " UNION ALL SELECT name FROM pragma_index_info('harga_entry')")))
        indexed += row[0] + " ";
    EXPECT_EQ(indexed, "bulan tahun Entry Usera entry ");

    // Opening again keeps what is there.
    insert("pc1", "ISP", 0);
    LogDatabase again;
    ASSERT_TRUE(again.open(path));
    EXPECT_EQ(r.rows(QStringLiteral("SELECT count(*) FROM log"))[0][0], "1");
}

TEST(LogDatabaseOpen, AFileThatIsNoDatabaseIsReportedAndLeftAlone)
{
    test::TempDir dir;
    const std::string path = dir.file("log.db");
    const char head[] = "Standard Jet DB\0\x01\x02 not sqlite at all";
    std::string garbage(head, sizeof head - 1);
    garbage += std::string(5000, '\x5A');
    test::writeFile(path, garbage);

    LogDatabase db;
    std::string why;
    EXPECT_FALSE(db.open(path, &why));
    EXPECT_NE(why.find("is not a log database"), std::string::npos) << why;
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_FALSE(db.isOpen());
    ServerState st;
    EXPECT_FALSE(db.writelog(0, st));
    EXPECT_FALSE(db.saveHarga("ISP", "3000"));
    EXPECT_FALSE(db.totalCost({}, {}).has_value());
    EXPECT_EQ(test::readFile(path), garbage);
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));

    // A database of someone else's: a log table of another layout.
    const std::string other = dir.file("other.db");
    {
        Reader r(other);
        r.rows(QStringLiteral("CREATE TABLE log (id INTEGER PRIMARY KEY, line TEXT)"));
    }
    const std::string before = test::readFile(other);
    LogDatabase foreign;
    EXPECT_FALSE(foreign.open(other, &why));
    EXPECT_NE(why.find("does not have the columns"), std::string::npos) << why;
    EXPECT_EQ(test::readFile(other), before);

    // A new file and SQLite's two beside it are private whatever the umask.
    const mode_t mask = ::umask(022);
    {
        LogDatabase fresh;
        ASSERT_TRUE(fresh.open(dir.file("fresh.db"), &why)) << why;
        ServerState row;
        ASSERT_TRUE(fresh.writelog(0, row));
        for (const char *suffix : {"", "-wal", "-shm"}) {
            struct stat st {};
            ASSERT_EQ(::stat(dir.file(std::string("fresh.db") + suffix).c_str(), &st), 0) << suffix;
            EXPECT_EQ(st.st_mode & 0777, 0600u) << suffix;
        }
    }
    ::umask(mask);

    // A folder that is not there: nothing is made.
    LogDatabase nowhere;
    EXPECT_FALSE(nowhere.open(dir.file("missing/log.db"), &why));
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST_F(LogDatabaseFixture, RowsTakeTheirTextsAndUpdatesGoToTheRememberedRow)
{
    const std::int64_t first = insert("", "Say \"hi\" 100%_net", 0);
    EXPECT_EQ(st.ConnectionDialer, "Local");
    Reader r(path);
    // Someone else's row is now the newest; the update still finds ours.
    QSqlQuery(QSqlDatabase::database(r.name, false))
        .exec(QStringLiteral("INSERT INTO log (Entry, Duration, waktua) VALUES ('other', '0:0:0', 0)"));
    st.SecondsOnline = 61;
    st.TimeOnlineText = "0:1:1";
    EXPECT_TRUE(db.writelog(1, st));

    const auto rows = r.rows(QStringLiteral("SELECT * FROM log ORDER BY id"));
    ASSERT_EQ(rows.size(), 2u);
    const auto &row = rows[0];
    EXPECT_EQ(std::stoll(row[5]), first);
    EXPECT_FALSE(row[0].empty());
    EXPECT_EQ(row[1], "Local");
    EXPECT_EQ(row[2], "Say \"hi\" 100%_net");
    EXPECT_EQ(row[3], "0:1:1");
    EXPECT_EQ(row[4], QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString());
    EXPECT_EQ(row[6], "56000");
    EXPECT_EQ(row[7], QDate::currentDate().toString(QStringLiteral("MM")).toStdString());
    EXPECT_EQ(row[8], QDate::currentDate().toString(QStringLiteral("yy")).toStdString());
    EXPECT_EQ(row[9], "61");
    EXPECT_EQ(rows[1][3], "0:0:0") << "the newer row is not touched";

    // Windows-1252 names come back as the same bytes.
    insert("pc\xE9", "Caf\xE9", 0);
    EXPECT_EQ(r.rows(QStringLiteral("SELECT Usera, Entry FROM log ORDER BY id DESC"))[0],
              (std::vector<std::string>{"pc\xC3\xA9", "Caf\xC3\xA9"}));

    db.forgetRow();
    EXPECT_FALSE(db.writelog(1, st)) << "no row to update";
}

TEST_F(LogDatabaseFixture, CostPerHourSmtpServerAndTheirUpserts)
{
    const std::string odd = "A \"b\" 5%_c";
    EXPECT_EQ(db.harga(odd), "0");
    EXPECT_TRUE(db.saveHarga(odd, "3000"));
    EXPECT_TRUE(db.saveHarga(odd, "12.5"));
    EXPECT_EQ(db.harga(odd), "12.5");
    EXPECT_TRUE(db.saveHarga("A x b", ""));
    EXPECT_EQ(db.harga("A x b"), "0");
    EXPECT_EQ(db.harga("A _b_ 5%_c"), "0") << "entries match exactly, not as patterns";

    EXPECT_FALSE(db.smtp(odd).has_value());
    EXPECT_TRUE(db.saveSmtp(odd, {"mail.\"isp\".test", "25"}));
    EXPECT_TRUE(db.saveSmtp(odd, {"smtp.isp.test", "587"}));
    ASSERT_TRUE(db.smtp(odd).has_value());
    EXPECT_EQ(db.smtp(odd)->server, "smtp.isp.test");
    EXPECT_EQ(db.smtp(odd)->port, "587");

    Reader r(path);
    EXPECT_EQ(r.rows(QStringLiteral("SELECT count(*) FROM harga"))[0][0], "2");
    EXPECT_EQ(r.rows(QStringLiteral("SELECT count(*) FROM smtp"))[0][0], "1");
}

TEST_F(LogDatabaseFixture, TotalCostJoinsTheCostPerHour)
{
    EXPECT_EQ(db.totalCost({}, {}), "0.00");
    insert("pc1", "Metro", 90);
    EXPECT_EQ(db.totalCost({}, {}), "0.00") << "no cost per hour yet";
    db.saveHarga("Metro", "3000");
    EXPECT_EQ(db.totalCost({}, {}), "75.00");
    insert("pc1", "Free", 3600);  // no harga row: adds nothing
    EXPECT_EQ(db.totalCost({}, {}), "75.00");
    EXPECT_EQ(db.costTenThousandths(), 750000);

    // 1 s at 10 per hour is 0.0028 (four decimals kept), shown 0.00.
    insert("pc2", "Cheap", 1);
    db.saveHarga("Cheap", "10");
    LogFilter cheap;
    cheap.entry = "Cheap";
    EXPECT_EQ(db.costTenThousandths(cheap), 28);
    EXPECT_EQ(db.totalCost(cheap, {}), "0.00");

    insert("pc2", "Metro", 3600 * 1000);
    LogFilter byUser;
    byUser.usera = "pc2";
    byUser.entry = "Metro";
    EXPECT_EQ(db.totalCost(byUser, {}), "3,000,000.00");
    EXPECT_EQ(db.totalCost(byUser, {",", "."}), "3.000.000,00");
    byUser.bulan = "13";
    EXPECT_EQ(db.totalCost(byUser, {}), "0.00");

    // Fractional costs per hour and rounding half up at the cents.
    insert("pc3", "Half", 36);
    db.saveHarga("Half", "0.5");  // 36 s give 0.005
    LogFilter half;
    half.entry = "Half";
    EXPECT_EQ(db.totalCost(half, {}), "0.01");
    EXPECT_EQ(formatCost(-750000, {}), "-75.00");
    EXPECT_EQ(formatCost(-49, {}), "0.00");
}

TEST_F(LogDatabaseFixture, RenameAndDeleteCarryTheEntrysRowsInAllThreeTables)
{
    insert("pc1", "Old \"One\"", 60);
    insert("pc1", "Old \"One\"", 120);
    insert("pc1", "Other", 30);
    db.saveHarga("Old \"One\"", "100");
    db.saveHarga("Other", "50");
    db.saveSmtp("Old \"One\"", {"smtp.one", "25"});

    EXPECT_TRUE(db.renameEntry("Old \"One\"", "New%One"));
    Reader r(path);
    EXPECT_EQ(r.rows(QStringLiteral("SELECT Entry, count(*) FROM log GROUP BY Entry ORDER BY Entry")),
              (std::vector<std::vector<std::string>>{{"New%One", "2"}, {"Other", "1"}}));
    EXPECT_EQ(db.harga("New%One"), "100");
    EXPECT_EQ(db.harga("Old \"One\""), "0");
    ASSERT_TRUE(db.smtp("New%One").has_value());
    EXPECT_EQ(db.smtp("New%One")->server, "smtp.one");

    EXPECT_TRUE(db.deleteEntryData("New%One"));
    EXPECT_EQ(r.rows(QStringLiteral("SELECT Entry FROM log")), (std::vector<std::vector<std::string>>{{"Other"}}));
    EXPECT_EQ(db.harga("New%One"), "0");
    EXPECT_EQ(db.harga("Other"), "50");
    EXPECT_FALSE(db.smtp("New%One").has_value());
}
