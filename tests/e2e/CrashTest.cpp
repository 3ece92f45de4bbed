// The real server killed at random points of a connection with logging on,
// and stopped in the middle of a dial: the log stays whole, nothing it had
// committed is lost, the next start serves at once, no child is left.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

const std::string Login = "connect" + F + "pc1" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n";

// A connection of the test's own to the log, closed after each look.
struct LogLook {
    bool ok = false;
    std::string integrity;
    int rows = -1;
};

LogLook look(const std::string &path)
{
    LogLook r;
    const QString name = QStringLiteral("crash-reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QString::fromStdString(path));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                r.integrity = q.value(0).toString().toStdString();
            if (q.exec(QStringLiteral("SELECT count(*) FROM log")) && q.next())
                r.rows = q.value(0).toInt();
            r.ok = r.integrity == "ok" && r.rows >= 0;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return r;
}

std::vector<int> childrenOf(qint64 pid)
{
    std::vector<int> out;
    for (const auto &e : std::filesystem::directory_iterator("/proc")) {
        const std::string n = e.path().filename().string();
        if (n.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream st(e.path() / "stat");
        std::string line;
        std::getline(st, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        // pid (comm) state ppid ...
        std::istringstream rest(line.substr(close + 2));
        char state;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == pid)
            out.push_back(std::stoi(n));
    }
    return out;
}

bool running(int pid)
{
    std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(st, line))
        return false;
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

}  // namespace

TEST(Crash, KilledAtRandomPointsTheLogStaysWholeAndTheNextStartServesAtOnce)
{
    TempDir dir;
    const std::string base = dir.file("base");
    std::mt19937 random(20261209);
    int committedBefore = 0;
    int killedConnected = 0;
    qint64 slowestStartMs = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ServerProcess server(base);
        server.writeConfig("[server]\nport=0\nlisten=127.0.0.1\n[dial]\nconnectionlogging=1\n");
        writeFile(base + "/config/user.cfg",
                  "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
        writeFile(base + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=1\n");
        QElapsedTimer started;
        started.start();
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
        const quint16 port = server.listeningPort();
        RawClient c;
        ASSERT_TRUE(c.open(port));
        c.send(Login);
        ASSERT_EQ(c.line().substr(0, 3), "OK" + F) << server.output();
        slowestStartMs = std::max(slowestStartMs, started.elapsed());

        // Somewhere in dial, connected, hang-up, or the next dial.
        const int killAfterMs = std::uniform_int_distribution<int>(0, 4000)(random);
        const int onlineMs = std::uniform_int_distribution<int>(300, 2000)(random);
        c.send("dial" + F + "Metro" + F + "pc1" + F + "\r\n");
        QElapsedTimer t, online;
        t.start();
        bool connected = false, hangUpSent = false, hungUp = false;
        while (t.elapsed() < killAfterMs) {
            const std::string l = c.line(std::max(1, std::min(100, killAfterMs - static_cast<int>(t.elapsed()))));
            const auto items = statusItems(l);
            if (!l.empty())
                c.send("trm" + F + "\r\n");
            if (!connected && !items.empty() && items[0] == "Connected") {
                connected = true;
                online.start();
            } else if (connected && !hungUp && !items.empty() && items[0] == "READY") {
                hungUp = true;
            }
            if (connected && !hangUpSent && online.elapsed() >= onlineMs) {
                hangUpSent = true;
                c.send("hangup" + F + "\r\n");
            }
        }
        // What another reader sees committed is what must survive.
        const LogLook seen = look(base + "/config/log.db");
        ASSERT_TRUE(seen.ok) << seen.integrity;
        ::kill(static_cast<pid_t>(server.process().processId()), SIGKILL);
        ASSERT_TRUE(server.process().waitForFinished(5000));
        killedConnected += connected && !hungUp ? 1 : 0;

        const LogLook after = look(base + "/config/log.db");
        EXPECT_EQ(after.integrity, "ok");
        EXPECT_GE(after.rows, seen.rows);
        EXPECT_GE(after.rows, committedBefore);
        committedBefore = after.rows;
    }
    std::printf("crash: 20 rounds, %d killed while connected, %d rows in the log, slowest start to a login %lld ms\n",
                killedConnected, committedBefore, static_cast<long long>(slowestStartMs));
    EXPECT_GT(committedBefore, 0);
    EXPECT_LT(slowestStartMs, 3000);
}

TEST(Crash, StoppedDuringADialItEndsWithinFiveSecondsAndLeavesNoChild)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    server.writeConfig("[server]\nport=0\nlisten=127.0.0.1\n[line]\ndriver=command\ntimeout=60\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    // A dial that takes its time, as a modem's does.
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[Slow]\nconnect=sh -c \"sleep 30\"\ninterface=velora-none0\nspeed=56000\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    const quint16 port = server.listeningPort();
    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send(Login);
    ASSERT_EQ(c.line().substr(0, 3), "OK" + F);
    c.send("dial" + F + "Slow" + F + "pc1" + F + "\r\n");
    const qint64 pid = server.process().processId();
    std::vector<int> children;
    ASSERT_TRUE(waitFor([&] { children = childrenOf(pid); return !children.empty(); }, 5000)) << server.output();

    QElapsedTimer t;
    t.start();
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ASSERT_TRUE(server.process().waitForFinished(5000)) << server.output();
    std::printf("crash: SIGTERM during a dial ended the server in %lld ms; %zu children before\n",
                static_cast<long long>(t.elapsed()), children.size());
    EXPECT_LT(t.elapsed(), 5000);
    for (const int child : children)
        EXPECT_TRUE(waitFor([&] { return !running(child); }, 1000)) << "child " << child << " still runs";
}
