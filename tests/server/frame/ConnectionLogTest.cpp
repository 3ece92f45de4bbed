// The connection log as the online-time tick records it, with the ticks
// driven by hand on the simulated line.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/frame/ServerCore.h"
#include "support/FakeServerPlatform.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::test;

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct ConnectionLogFixture : ::testing::Test {
    TempDir dir;
    std::string base = dir.file("base");
    std::unique_ptr<ServerCore> core;
    server::dialup::SimulatedLine *line = nullptr;
    std::vector<std::string> problems;
    QString reader = QStringLiteral("log-reader");

    void SetUp() override
    {
        std::filesystem::create_directories(base + "/config");
        setLogging("1");
        writeFile(base + "/config/user.cfg", "");
        writeFile(base + "/config/phonebook.ini",
                  "[ISP One]\nspeed=56000\ndelay=1\n[ISP Two]\nspeed=33600\ndelay=1\n");
    }
    void TearDown() override
    {
        core.reset();
        QSqlDatabase::database(reader, false).close();
        QSqlDatabase::removeDatabase(reader);
    }
    void setLogging(const std::string &flag)
    {
        writeFile(base + "/config/config.ini", "[server]\nport=0\n[dial]\nconnectionlogging=" + flag + "\n");
    }
    void startCore()
    {
        ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        FakePlatformParts parts;
        core = std::make_unique<ServerCore>(o, fakePlatform(base, &parts));
        line = parts.line;
        QObject::connect(core.get(), &OperatorConsole::problem,
                         [this](const QString &text) { problems.push_back(text.toStdString()); });
        core->inisiasiawal();
        core->Timer2Timer();
    }
    // Dials and runs the status tick until the line is up and its speed read.
    void connect(const std::string &entry, const std::string &dialer)
    {
        core->dialup().executedial(entry, dialer);
        waitUp();
    }
    void waitUp()
    {
        ASSERT_TRUE(waitFor([&] {
            core->Timer1Timer();
            // The speed comes with the first traffic sample of the connection.
            const std::string &speed = core->state().SpeedValue;
            return core->state().ActiveStatus == server::state::LinkState::Connected && !speed.empty() && speed != "0";
        }));
    }
    void hangUp()
    {
        core->dialup().executehangup();
        core->Timer1Timer();
        core->Timer3Timer();
    }
    QSqlDatabase db()
    {
        if (!QSqlDatabase::contains(reader)) {
            QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), reader);
            d.setDatabaseName(QString::fromStdString(base + "/config/log.db"));
            d.open();
        }
        return QSqlDatabase::database(reader, false);
    }
    Rows rows()
    {
        Rows out;
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT id, Usera, Entry, Duration, waktua, speed FROM log ORDER BY id")));
        while (q.next()) {
            std::vector<std::string> row;
            for (int i = 0; i < 6; ++i)
                row.push_back(q.value(i).toString().toStdString());
            out.push_back(row);
        }
        return out;
    }
};

}  // namespace

TEST_F(ConnectionLogFixture, ASixtyOneTickConnectionIsInsertedUpdatedAndFinalised)
{
    startCore();
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_TRUE(std::filesystem::exists(base + "/config/log.db"));
    connect("ISP One", "pc7");
    core->Timer3Timer();
    EXPECT_TRUE(core->logRecordOpen());
    EXPECT_EQ(rows(), (Rows{{"1", "pc7", "ISP One", "0:0:0", "0", "56000"}}));
    for (int tick = 2; tick <= 61; ++tick) {
        core->Timer3Timer();
        if (tick == 60) {
            EXPECT_EQ(rows()[0][3], "0:0:0") << "nothing written between the minutes";
        }
    }
    EXPECT_EQ(rows(), (Rows{{"1", "pc7", "ISP One", "0:1:0", "60", "56000"}}));
    hangUp();
    EXPECT_FALSE(core->logRecordOpen());
    EXPECT_FALSE(core->onlineTimeTicking());
    EXPECT_EQ(rows(), (Rows{{"1", "pc7", "ISP One", "0:1:1", "61", "56000"}}));

    // The operator's dial, and a dial that names no one, are "Local".
    connect("ISP Two", "");
    core->Timer3Timer();
    hangUp();
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows()[1], (std::vector<std::string>{"2", "Local", "ISP Two", "0:0:1", "1", "33600"}));
}

TEST_F(ConnectionLogFixture, EachRowNamesWhoDialledThatConnection)
{
    startCore();
    connect("ISP One", "pc1");
    core->Timer3Timer();
    // Hung up and dialled again before the online-time tick saw the line drop.
    core->dialup().executehangup();
    core->dialup().executedial("ISP One", "pc2");
    core->Timer1Timer();
    core->Timer3Timer();
    ASSERT_FALSE(core->onlineTimeTicking());
    waitUp();
    core->Timer3Timer();
    core->Timer3Timer();
    hangUp();

    // A dial that failed leaves no dialer for a link raised outside.
    core->dialup().executedial("Gone", "pc3");
    line->connectFromOutside("ISP Two");
    waitUp();
    core->Timer3Timer();
    hangUp();
    std::vector<std::string> users;
    for (const auto &row : rows())
        users.push_back(row[1]);
    EXPECT_EQ(users, (std::vector<std::string>{"pc1", "pc2", "Local"}));
}

TEST_F(ConnectionLogFixture, TheSettingAtTheDialDecides)
{
    setLogging("0");
    startCore();
    connect("ISP One", "pc1");
    for (int tick = 0; tick < 70; ++tick)
        core->Timer3Timer();
    hangUp();
    EXPECT_TRUE(rows().empty()) << "logging off at the dial";

    // Switched on, dialled, then switched off again: this dial is recorded.
    setLogging("1");
    connect("ISP Two", "pc2");
    setLogging("0");
    core->loadcfg();
    EXPECT_FALSE(core->settings().connectionLogging);
    for (int tick = 0; tick < 3; ++tick)
        core->Timer3Timer();
    hangUp();
    EXPECT_EQ(rows(), (Rows{{"1", "pc2", "ISP Two", "0:0:3", "3", "33600"}}));

    // The next dial reads the setting again.
    connect("ISP One", "pc3");
    core->Timer3Timer();
    hangUp();
    EXPECT_EQ(rows().size(), 1u);
}

TEST_F(ConnectionLogFixture, AFailedFinalUpdateLeavesTheOldRowToItself)
{
    startCore();
    connect("ISP One", "pc1");
    core->Timer3Timer();
    core->Timer3Timer();
    ASSERT_EQ(rows().size(), 1u);

    // Another writer holds the file while the line drops.
    QSqlQuery lock(db());
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
    hangUp();
    EXPECT_FALSE(core->logRecordOpen());
    ASSERT_TRUE(lock.exec(QStringLiteral("COMMIT")));
    EXPECT_EQ(rows(), (Rows{{"1", "pc1", "ISP One", "0:0:0", "0", "56000"}}));

    // The next connection gets its own row; the old one keeps its values.
    connect("ISP Two", "pc2");
    for (int tick = 0; tick <= 60; ++tick)
        core->Timer3Timer();
    hangUp();
    EXPECT_EQ(rows(), (Rows{{"1", "pc1", "ISP One", "0:0:0", "0", "56000"},
                            {"2", "pc2", "ISP Two", "0:1:1", "61", "33600"}}));
}

TEST_F(ConnectionLogFixture, AForeignLogFileIsReportedOnceAndTheServerRunsOn)
{
    const std::string garbage = "not a database\n" + std::string(4096, '#');
    writeFile(base + "/config/log.db", garbage);
    startCore();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("The connection log is off"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("is not a log database"), std::string::npos) << problems[0];

    connect("ISP One", "pc1");
    for (int tick = 0; tick < 61; ++tick)
        core->Timer3Timer();
    EXPECT_FALSE(core->logRecordOpen()) << "each insert fails and is tried again";
    EXPECT_EQ(core->state().SecondsOnline, 61u);
    hangUp();
    EXPECT_EQ(problems.size(), 1u) << "failed statements stay silent";
    EXPECT_EQ(readFile(base + "/config/log.db"), garbage);
}
