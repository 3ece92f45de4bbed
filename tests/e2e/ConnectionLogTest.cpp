// The real server records a client's dial in config/log.db; the test reads
// the file back through a connection of its own, as another program would.
#include <gtest/gtest.h>

#include <filesystem>

#include <QProcess>
#include <QSqlDatabase>
#include <QStringList>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

struct LogRow {
    std::string usera, entry, duration;
    int waktua = -1;
    int speed = -1;
};

struct ConnectionLogFixture : ::testing::Test {
    TempDir dir;
    ServerProcess server{dir.file("base")};
    quint16 port = 0;
    RawClient client;
    QString reader = QStringLiteral("e2e-log-reader");

    void SetUp() override
    {
        server.writeConfig("[server]\nport=0\n[dial]\nconnectionlogging=1\n");
        writeFile(server.baseDir() + "/config/user.cfg",
                  "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
        writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n");
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
        port = server.listeningPort();
        ASSERT_TRUE(client.open(port));
        client.send("connect" + F + "pc-log" + F + "10.0.0.7" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
        ASSERT_EQ(client.line().substr(0, 3), "OK" + F);
    }
    void TearDown() override { closeReader(); }
    void closeReader()
    {
        QSqlDatabase::database(reader, false).close();
        QSqlDatabase::removeDatabase(reader);
    }
    QSqlDatabase db()
    {
        if (!QSqlDatabase::contains(reader)) {
            QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), reader);
            d.setDatabaseName(QString::fromStdString(server.baseDir() + "/config/log.db"));
            d.open();
        }
        return QSqlDatabase::database(reader, false);
    }
    std::vector<LogRow> rows()
    {
        std::vector<LogRow> out;
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("SELECT Usera, Entry, Duration, waktua, speed FROM log ORDER BY id")))
            return out;
        while (q.next())
            out.push_back({q.value(0).toString().toStdString(), q.value(1).toString().toStdString(),
                           q.value(2).toString().toStdString(), q.value(3).toInt(), q.value(4).toInt()});
        return out;
    }
    // The seconds online of a fresh status record: a lock toggle changes
    // the record, so the server pushes it.
    int secondsOnline()
    {
        // What arrived while the event loop ran is already in the socket.
        client.buffer += client.socket.readAll().toStdString();
        client.send("lock" + F + "\r\n");
        const std::string l = client.lineWith("Connected" + I);
        const auto items = statusItems(l);
        return items.size() == 13 ? std::stoi(items[12]) : -1;
    }
    void dialAndWaitForTheRow()
    {
        client.send("dial" + F + "Metro" + F + "pc-log" + F + "\r\n");
        // The speed comes with the first traffic sample, a tick or two after
        // "Connected": wait for it, so no older record is left to read.
        ASSERT_FALSE(client.lineWith(I + "56000" + I).empty()) << server.output();
        ASSERT_TRUE(waitFor([&] { return !rows().empty(); }, 5000)) << server.output();
    }
};

}  // namespace

TEST_F(ConnectionLogFixture, AClientsDialBecomesARowFinalisedAtHangUp)
{
    dialAndWaitForTheRow();
    auto r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].usera, "pc-log");
    EXPECT_EQ(r[0].entry, "Metro");
    EXPECT_EQ(r[0].duration, "0:0:0");
    EXPECT_EQ(r[0].waktua, 0);
    EXPECT_EQ(r[0].speed, 56000);

    // Let the server's own online-time tick count a couple of seconds.
    int seen = 0;
    ASSERT_TRUE(waitFor([&] { return (seen = secondsOnline()) >= 2; }, 6000));
    EXPECT_EQ(rows()[0].waktua, 0) << "nothing is written between the minutes";

    // The toggles may have left our lock on, which would refuse the hang-up.
    client.send("unlockall" + F + "\r\n");
    ASSERT_FALSE(client.lineWith("Metro" + I + "free" + I).empty());
    client.send("hangup" + F + "pc-log" + F + "\r\n");
    ASSERT_FALSE(client.lineWith("READY" + I + "0:0:0" + I).empty());
    ASSERT_TRUE(waitFor([&] { return rows().size() == 1 && rows()[0].waktua > 0; }, 3000));
    r = rows();
    EXPECT_GE(r[0].waktua, seen);
    EXPECT_LT(r[0].waktua, 60);
    EXPECT_EQ(r[0].duration, "0:0:" + std::to_string(r[0].waktua));
    EXPECT_EQ(server.output().find("connection log is off"), std::string::npos) << server.output();
}

TEST_F(ConnectionLogFixture, AKilledServerLeavesAConsistentFile)
{
    dialAndWaitForTheRow();
    const qint64 pid = server.process().processId();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(server.process().waitForFinished(5000));
    closeReader();

    QSqlQuery q(db());
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
    const auto r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].usera, "pc-log");
    EXPECT_EQ(r[0].duration, "0:0:0");
    EXPECT_EQ(r[0].waktua, 0);

    // A new run opens the same file and adds to it.
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    EXPECT_EQ(server.output().find("connection log is off"), std::string::npos) << server.output();
}

TEST_F(ConnectionLogFixture, HeadlessReportReadsWhileTheServerWrites)
{
    dialAndWaitForTheRow();
    // Another writer holds the write lock the whole time: a reader never waits for it.
    QSqlQuery hold(db());
    ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));
    ASSERT_TRUE(hold.exec(QStringLiteral("INSERT INTO log (Usera, Entry, bulan, tahun, waktua) VALUES ('x','Metro','01','01',9)")));

    auto report = [&](const QStringList &extra, std::string *err = nullptr) {
        QProcess p;
        p.start(QStringLiteral(VELORA_SERVER_BINARY),
                QStringList{QStringLiteral("--basedir"), QString::fromStdString(server.baseDir()),
                            QStringLiteral("--report")} +
                    extra);
        EXPECT_TRUE(p.waitForFinished(20000));
        if (err)
            *err = p.readAllStandardError().toStdString();
        return p.exitCode();
    };
    const std::string out = dir.file("rpt.txt");
    EXPECT_EQ(report({QStringLiteral("--entry"), QStringLiteral("Metro"), QStringLiteral("--output"),
                      QString::fromStdString(out)}),
              0);
    const std::string text = readFile(out);
    EXPECT_NE(text.find("Entry    :\tMetro\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tpc-log\tMetro\t56000\t0:0:0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Connection count :\t1\r\n"), std::string::npos) << "the uncommitted row is not seen";
    ASSERT_TRUE(hold.exec(QStringLiteral("ROLLBACK")));

    std::string err;
    EXPECT_EQ(report({QStringLiteral("--output"), QString::fromStdString(dir.file("none/rpt.xlsx"))}, &err), 1);
    EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
    EXPECT_EQ(report({QStringLiteral("--month"), QStringLiteral("Smarch"), QStringLiteral("--output"),
                      QString::fromStdString(out)},
                     &err),
              1);
    EXPECT_NE(err.find("unknown month"), std::string::npos) << err;
    EXPECT_EQ(report({QStringLiteral("--output"), QString::fromStdString(dir.file("rpt.pdf"))}, &err), 1);
    EXPECT_NE(err.find(".xlsx"), std::string::npos) << err;
    EXPECT_NE(err.find(".txt"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("rpt.pdf")));
    EXPECT_EQ(report({QStringLiteral("--year"), QStringLiteral("2026"), QStringLiteral("--output"),
                      QString::fromStdString(dir.file("rpt.xlsx"))}),
              0);
    EXPECT_EQ(readFile(dir.file("rpt.xlsx")).substr(0, 2), "PK");
}
