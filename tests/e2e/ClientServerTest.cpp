// The client's core against the real server on its simulated line.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
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
    quint16 port = freePort();
    QTemporaryDir clientDir;
    std::unique_ptr<ClientSettings> settings;
    std::unique_ptr<ClientSession> session;
    wire::StatusRecord last;
    int records = 0;
    std::string refused;

    void SetUp() override
    {
        const std::string L = "\xE3";
        server.writeConfig("[server]\nport=" + std::to_string(port) + "\n");
        writeFile(server.baseDir() + "/config/user.cfg",
                  "demo" + L + "All rights" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n" +
                  "viewer" + L + "Looks only" + L + "245-53-210-81-" + L + "0" + L + "0" + L + "0" + L + "0" + L + "\r\n");
        writeFile(server.baseDir() + "/config/phonebook.ini",
                  "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n[Harbour]\ndelay=5\n[Busy]\nfailcode=676\nfailstate=2\ndelay=5\n");
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();

        settings = std::make_unique<ClientSettings>(clientDir.path(), clientDir.path() + QStringLiteral("/a.desktop"));
        settings->setValue(ClientSettings::ServerAddress, "127.0.0.1");
        settings->setValue(ClientSettings::ServerPort, std::to_string(port));
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

    std::tie(rc, out) = run({QStringLiteral("--port"), QString::number(freePort()), QStringLiteral("--status")});
    EXPECT_EQ(rc, 2);
}

TEST_F(ClientServerFixture, ReadmesQuickStartRunsTwentyTimesBackToBack)
{
    // Each run's session is new while the last one's has only just gone:
    // its first push line must still carry the whole status record.
    auto run = [&](QStringList args) {
        QProcess p;
        args = QStringList{QStringLiteral("--clientdir"), clientDir.path(), QStringLiteral("--host"),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QString::number(port),
                           QStringLiteral("--user"), QStringLiteral("demo"), QStringLiteral("--password"),
                           QStringLiteral("demo")} +
               args;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(VELORA_CLIENT_BINARY), args);
        p.waitForFinished(30000);
        return std::make_tuple(p.exitCode(), p.readAllStandardOutput().toStdString(), t.elapsed());
    };
    const QStringList sequence[] = {{QStringLiteral("--status")},
                                    {QStringLiteral("--dial"), QStringLiteral("Metro")},
                                    {QStringLiteral("--status")},
                                    {QStringLiteral("--hangup")}};
    const char *expected[] = {"READY", "Connected", "Connected", "READY"};
    for (int round = 0; round < 20; ++round)
        for (int step = 0; step < 4; ++step) {
            const auto [rc, out, ms] = run(sequence[step]);
            ASSERT_EQ(rc, 0) << "round " << round << " step " << step << ": " << out;
            EXPECT_NE(out.find(expected[step]), std::string::npos) << "round " << round << " step " << step << ": " << out;
            EXPECT_LT(ms, 3000) << "round " << round << " step " << step;
        }
}
