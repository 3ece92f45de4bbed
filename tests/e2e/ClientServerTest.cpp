// The client's core against the real server on its simulated line.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include "support/Wait.h"
#include "support/ServerProcess.h"
#include "client/core/ClientSession.h"
#include "client/core/ClientSettings.h"

using namespace velora::client::core;
using namespace velora::test;

using namespace velora;
using namespace velora::test;



namespace {

struct ClientServerFixture : ::testing::Test {
    TempDir dir;
    ServerProcess server{dir.file("server")};
    quint16 port = 0;
    QTemporaryDir clientDir;
    std::unique_ptr<ClientSettings> settings;
    std::unique_ptr<ClientSession> session;
    wire::StatusRecord last;
    int records = 0;
    std::string refused;

    void SetUp() override
    {
        const std::string L = "\xE3";
        server.writeConfig("[server]\nport=0\n");
        writeFile(server.baseDir() + "/config/user.cfg",
                  "demo" + L + "All rights" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n" +
                  "viewer" + L + "Looks only" + L + "245-53-210-81-" + L + "0" + L + "0" + L + "0" + L + "0" + L + "\r\n");
        writeFile(server.baseDir() + "/config/phonebook.ini",
                  "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n[Harbour]\ndelay=5\n[Busy]\nfailcode=676\nfailstate=2\ndelay=5\n");
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
        port = server.listeningPort();

        settings = std::make_unique<ClientSettings>(clientDir.path(), clientDir.path() + QStringLiteral("/a.desktop"));
        settings->setValue(ClientSettings::ServerAddress, "127.0.0.1");
        settings->setValue(ClientSettings::ServerPort, std::to_string(port));
        settings->setValue(ClientSettings::Encrypted, "0");
        session = std::make_unique<ClientSession>(*settings);
        ASSERT_TRUE(session->activatecfg());
        QObject::connect(session.get(), &ClientSession::statusReceived, [this](const wire::StatusRecord &r) {
            last = r;
            ++records;
        });
        QObject::connect(session.get(), &ClientSession::loginRefused,
                         [this](const std::string &reason) { refused = reason; });
    }
    void TearDown() override { session.reset(); }

    bool logIn(const std::string &user, const std::string &password)
    {
        session->setFixedLogin(user, password);
        session->executeconnect(1);
        return waitFor([&] { return session->inSession() && records > 0; });
    }
    struct Run {
        int code = -1;
        std::string out, err;
        qint64 ms = 0;
    };
    // The command-line client as a script runs it, logged in as demo.
    Run runClient(const QStringList &action, bool waitUntilGone = true)
    {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(VELORA_CLIENT_BINARY),
                QStringList{QStringLiteral("--clientdir"), clientDir.path(), QStringLiteral("--host"),
                            QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QString::number(port),
                            QStringLiteral("--user"), QStringLiteral("demo"), QStringLiteral("--password"),
                            QStringLiteral("demo"), QStringLiteral("--timeout"), QStringLiteral("10")} +
                    action);
        p.waitForFinished(20000);
        Run r{p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString(),
              t.elapsed()};
        // Gone from the list before the next run logs in under the same name.
        if (waitUntilGone)
            waitFor([&] { return last.clientNames.size() == 2; }, 3000);
        return r;
    }
    // SQL on the server's log, beside the running server.
    void logSql(const QString &statement)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-log"));
            db.setDatabaseName(QString::fromStdString(server.baseDir() + "/config/log.db"));
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(statement)) << statement.toStdString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("e2e-log"));
    }
    // A row of this month: `seconds` online on Metro.
    void spent(int seconds)
    {
        const QDate today = QDate::currentDate();
        logSql(QStringLiteral("INSERT INTO log (Usera, Entry, bulan, tahun, waktua) VALUES ('pc','Metro','%1','%2',%3)")
                   .arg(today.toString(QStringLiteral("MM")), today.toString(QStringLiteral("yy")))
                   .arg(seconds));
    }
    // Toggles our lock twice to get a fresh status record with the seconds.
    void freshRecord()
    {
        const int before = records;
        session->sendLock();
        waitFor([&] { return records > before; });
        const int mid = records;
        session->sendLock();
        waitFor([&] { return records > mid && last.ownLock == "free"; });
    }
};

}  // namespace

TEST_F(ClientServerFixture, DialConnectCountAndHangUp)
{
    ASSERT_TRUE(logIn("demo", "demo"));
    EXPECT_EQ(last.entryNames, (std::vector<std::string>{"Metro", "Harbour", "Busy"}));
    EXPECT_EQ(last.statusText, "READY");
    EXPECT_EQ(session->privileges().dialHangup, "1");

    ASSERT_TRUE(session->sendDial("Metro"));
    ASSERT_TRUE(waitFor([&] { return last.statusText == "Connected"; })) << last.statusText;
    EXPECT_EQ(last.activeEntry, "Metro");
    EXPECT_EQ(last.activeDevice, "Simulated modem");
    // The online-time tick is the real server's: wait for it to count, not blindly.
    EXPECT_TRUE(waitFor([&] {
        freshRecord();
        return std::stoi(last.secondsOnline) >= 2;
    }, 5000)) << last.secondsOnline;
    EXPECT_EQ(last.speedValue, "56000");

    ASSERT_TRUE(session->sendHangup());
    ASSERT_TRUE(waitFor([&] { return last.statusText == "READY"; })) << last.statusText;
    EXPECT_EQ(last.activeEntry, "--");
}

TEST_F(ClientServerFixture, RefusedLoginAndMissingPrivilege)
{
    session->setFixedLogin("demo", "wrong");
    session->executeconnect(1);
    ASSERT_TRUE(waitFor([&] { return !refused.empty(); }));
    EXPECT_EQ(refused, "wrong username/password");
    EXPECT_FALSE(session->inSession());

    ASSERT_TRUE(logIn("viewer", "demo"));
    EXPECT_EQ(session->privileges().dialHangup, "0");
    EXPECT_EQ(session->privileges().shutdown, "0");
    EXPECT_EQ(session->privileges().unlockAll, "0");
}

TEST_F(ClientServerFixture, ScriptableClientAgainstTheRealServer)
{
    auto run = [&](QStringList args) {
        QProcess p;
        args = QStringList{QStringLiteral("--clientdir"), clientDir.path(), QStringLiteral("--host"),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--user"), QStringLiteral("demo"),
                           QStringLiteral("--password"), QStringLiteral("demo"), QStringLiteral("--timeout"),
                           QStringLiteral("10")} + args;
        p.start(QStringLiteral(VELORA_CLIENT_BINARY), args);
        p.waitForFinished(20000);
        return std::make_pair(p.exitCode(), p.readAllStandardOutput().toStdString());
    };
    const QString portArg = QString::number(port);
    auto [rc, out] = run({QStringLiteral("--port"), portArg, QStringLiteral("--status")});
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("READY"), std::string::npos) << out;

    std::tie(rc, out) = run({QStringLiteral("--port"), portArg, QStringLiteral("--dial"), QStringLiteral("Metro")});
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("Connected"), std::string::npos) << out;
    std::tie(rc, out) = run({QStringLiteral("--port"), portArg, QStringLiteral("--hangup")});
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("READY"), std::string::npos) << out;

    // Bound, not listening, shared with nobody: no server can take it meanwhile.
    QTcpSocket closed;
    ASSERT_TRUE(closed.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    std::tie(rc, out) = run({QStringLiteral("--port"), QString::number(closed.localPort()), QStringLiteral("--status")});
    EXPECT_EQ(rc, 2);
}

TEST_F(ClientServerFixture, ReadmesQuickStartRunsTwentyTimesBackToBack)
{
    // Each run's session is new while the last one's has only just gone:
    // its first push line must still carry the whole status record.
    const QStringList sequence[] = {{QStringLiteral("--status")},
                                    {QStringLiteral("--dial"), QStringLiteral("Metro")},
                                    {QStringLiteral("--status")},
                                    {QStringLiteral("--hangup")}};
    const char *expected[] = {"READY", "Connected", "Connected", "READY"};
    for (int round = 0; round < 20; ++round)
        for (int step = 0; step < 4; ++step) {
            const Run r = runClient(sequence[step], false);
            ASSERT_EQ(r.code, 0) << "round " << round << " step " << step << ": " << r.out << r.err;
            EXPECT_NE(r.out.find(expected[step]), std::string::npos) << "round " << round << " step " << step << ": " << r.out;
            EXPECT_LT(r.ms, 3000) << "round " << round << " step " << step;
        }
}

// 20 spent of a budget of 50, at 3600 an hour (60 a minute): the first
// minute would cross it, so the warning comes at once, to every logged-in client,
// from the server's own name. Once spent, a scripted dial is refused at once
// with the server's reason, the second time too.
TEST_F(ClientServerFixture, TheBudgetWarnsEveryClientAndRefusesScriptedDialsAtOnce)
{
    // Read at each dial.
    server.writeConfig("[server]\nport=" + std::to_string(port) +
                       "\n[dial]\nconnectionlogging=1\n[policy]\nmonthlybudget=50\n");
    logSql(QStringLiteral("INSERT INTO harga (entry, harga) VALUES ('Metro', 3600)"));
    spent(20);
    std::vector<wire::MessageRecord> heard;
    QObject::connect(session.get(), &ClientSession::messagesReceived,
                     [&](const std::vector<wire::MessageRecord> &records) {
                         heard.insert(heard.end(), records.begin(), records.end());
                     });
    ASSERT_TRUE(logIn("demo", "demo"));

    Run r = runClient({QStringLiteral("--dial"), QStringLiteral("Metro")});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Speed         : 56000\n"), std::string::npos) << r.out;
    ASSERT_TRUE(waitFor([&] { return !heard.empty(); }, 3000)) << "no warning";
    EXPECT_EQ(heard[0].senderName.rfind("Admin@", 0), 0u) << heard[0].senderName;
    EXPECT_FALSE(heard[0].senderAddress.empty());
    EXPECT_EQ(heard[0].bodyLines,
              std::vector<std::string>{"The monthly budget is spent in one minute: the line will then be hung up."});
    ASSERT_TRUE(session->sendHangup());
    ASSERT_TRUE(waitFor([&] { return last.statusText == "READY"; })) << last.statusText;

    spent(40);
    for (int attempt = 0; attempt < 2; ++attempt) {
        r = runClient({QStringLiteral("--dial"), QStringLiteral("Metro")});
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("velora-client: Monthly budget reached"), std::string::npos) << r.err;
        EXPECT_LT(r.ms, 3000) << r.err;
    }
}
