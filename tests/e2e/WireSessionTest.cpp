// The server over the wire, byte for byte, as a client of any make sees it.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"

using namespace velora::test;

using namespace velora::test;

namespace {

struct WireFixture : ::testing::Test {
    TempDir dir;
    ServerProcess server{dir.file("base")};
    quint16 port = 0;

    void SetUp() override
    {
        server.writeConfig("[server]\nport=0\n");
        // demo/demo with every privilege; guest/guest disabled.
        writeFile(server.baseDir() + "/config/user.cfg",
                  "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n" +
                  "guest" + L + "Off" + L + "246-107-128-157-151-" + L + "1" + L + "0" + L + "0" + L + "0" + L + "\r\n");
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
        port = server.listeningPort();
    }
};

}  // namespace

TEST_F(WireFixture, LoginRepliesAreTheProtocolsBytes)
{
    RawClient ok;
    ASSERT_TRUE(ok.open(port));
    ok.send("connect" + F + "pc1" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    EXPECT_EQ(ok.line(), "OK" + F + "Demo user" + F + "0" + F + "1" + F + "4" + F + "1" + F + "1" + F);

    RawClient wrong;
    ASSERT_TRUE(wrong.open(port));
    wrong.send("connect" + F + "pc2" + F + "10.0.0.2" + F + "demo" + F + "1-" + F + "\r\n");
    EXPECT_EQ(wrong.line(), "FAIL" + F + "wrong username/password" + F);
    EXPECT_TRUE(wrong.closedByPeer());

    RawClient disabled;
    ASSERT_TRUE(disabled.open(port));
    disabled.send("connect" + F + "pc3" + F + "10.0.0.3" + F + "guest" + F + "246-107-128-157-151-" + F + "\r\n");
    EXPECT_EQ(disabled.line(), "FAIL" + F + "this user is disabled" + F);
    EXPECT_TRUE(disabled.closedByPeer());
}

TEST_F(WireFixture, PushLinesCarryLocksAndMessagesToEveryone)
{
    RawClient a, b;
    ASSERT_TRUE(a.open(port));
    ASSERT_TRUE(b.open(port));
    a.send("connect" + F + "pc-a" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    b.send("connect" + F + "pc-b" + F + "10.0.0.2" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(a.line().substr(0, 3), "OK" + F);
    ASSERT_EQ(b.line().substr(0, 3), "OK" + F);
    a.send("stat" + F + "\r\n");

    // A status record of thirteen items, the client list with both of us.
    const std::string first = a.lineWith("pc-b");
    ASSERT_FALSE(first.empty());
    const auto parts = splitBy(first, '\xE0');
    ASSERT_EQ(parts.size(), 3u);
    const auto items = splitBy(parts[0], '\xE2');
    ASSERT_EQ(items.size(), 13u);
    EXPECT_EQ(items[0], "READY");
    EXPECT_EQ(items[1], "0:0:0");
    EXPECT_EQ(items[3], "free");
    EXPECT_EQ(splitBy(items[8], '\xE3').size(), 3u);  // the server's record, a and b
    EXPECT_EQ(items[10].substr(items[10].size() - 18), "10.0.0.1" + L + "10.0.0.2" + L);
    EXPECT_EQ(items[11], "free");
    EXPECT_EQ(items[12], "0");
    EXPECT_EQ(parts[1], I);

    a.send("lock" + F + "\r\n");
    const std::string la = a.lineWith(I + "locked" + I);
    const std::string lb = b.lineWith(I + "locked" + I);
    ASSERT_FALSE(la.empty());
    ASSERT_FALSE(lb.empty());
    EXPECT_EQ(splitBy(splitBy(la, '\xE0')[0], '\xE2')[11], "locking");
    EXPECT_EQ(splitBy(splitBy(lb, '\xE0')[0], '\xE2')[11], "free");

    b.send("unlockall" + F + "\r\n");
    ASSERT_FALSE(a.lineWith(I + "free" + I).empty());

    const std::string record = "10.0.0.2" + L + "pc-b" + L + "hello" + "\xE4" + L + "\xE5";
    b.send("pesan" + F + "All" + F + record + F + "\r\n");
    const std::string withMail = a.lineWith(record);
    ASSERT_FALSE(withMail.empty());
    EXPECT_EQ(splitBy(withMail, '\xE0')[1], record + I);
    ASSERT_FALSE(b.lineWith(record).empty());

    // Both lock commands are in the audit trail, with who sent them and from where.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("audit-read"));
        db.setDatabaseName(QString::fromStdString(server.baseDir() + "/config/log.db"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT usera, host, address, action FROM audit ORDER BY id")));
        std::vector<std::string> rows;
        while (q.next())
            rows.push_back((QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                        q.value(3).toString()})
                               .join(QLatin1Char('|'))
                               .toStdString());
        EXPECT_EQ(rows, (std::vector<std::string>{"demo|pc-a|127.0.0.1|lock", "demo|pc-b|127.0.0.1|unlockall"}));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("audit-read"));
    // No budget set: the month's cost alone.
    EXPECT_TRUE(server.waitForOutput("velora: month cost 0.00\n")) << server.output();
}

TEST_F(WireFixture, DialingTheSimulatedLineOverTheWire)
{
    // The server read its phonebook at start-up; give it one and restart.
    server.stop();
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n[Busy]\nfailcode=676\nfailstate=2\ndelay=5\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("2 entries")) << server.output();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    port = server.listeningPort();

    RawClient a;
    ASSERT_TRUE(a.open(port));
    a.send("connect" + F + "pc-a" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(a.line().substr(0, 3), "OK" + F);
    a.send("stat" + F + "\r\n");
    const std::string first = a.lineWith("READY" + I);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(splitBy(splitBy(first, '\xE0')[0], '\xE2')[7], "Metro" + L + "Busy" + L);

    a.send("dial" + F + "Metro" + F + "pc-a" + F + "\r\n");
    const std::string up = a.lineWith("Connected" + I);
    ASSERT_FALSE(up.empty());
    auto items = splitBy(splitBy(up, '\xE0')[0], '\xE2');
    EXPECT_EQ(items[2], "Metro");
    EXPECT_EQ(items[6], "Simulated modem");
    // The speed is read on the tick after "Connected"; a lock toggle brings a fresh record.
    QElapsedTimer t;
    t.start();
    while (items[5] != "56000" && t.elapsed() < 3000) {
        a.send("lock" + F + "\r\n");
        const std::string l = a.lineWith("Connected" + I);
        ASSERT_FALSE(l.empty());
        items = splitBy(splitBy(l, '\xE0')[0], '\xE2');
    }
    EXPECT_EQ(items[5], "56000");
    const int before = std::stoi(items[12]);
    // The online-time tick is the real server's: ask until it has counted two
    // more seconds, instead of sleeping and hoping.
    int seconds = before;
    t.restart();
    while (seconds < before + 2 && t.elapsed() < 5000) {
        a.send("lock" + F + "\r\n");
        const std::string later = a.lineWith("Connected" + I);
        ASSERT_FALSE(later.empty());
        seconds = std::stoi(splitBy(splitBy(later, '\xE0')[0], '\xE2')[12]);
    }
    EXPECT_GE(seconds, before + 2);

    // The toggles may have left our lock on, which would refuse the hang-up.
    a.send("unlockall" + F + "\r\n");
    ASSERT_FALSE(a.lineWith("Metro" + I + "free" + I).empty());
    a.send("hangup" + F + "pc-a" + F + "\r\n");
    ASSERT_FALSE(a.lineWith("READY" + I + "0:0:0" + I + "--").empty());

    a.send("dial" + F + "Busy" + F + "pc-a" + F + "\r\n");
    const std::string busy = a.lineWith("The line is busy." + I);
    ASSERT_FALSE(busy.empty());
    EXPECT_EQ(splitBy(splitBy(busy, '\xE0')[0], '\xE2')[4], "Error press hangup button");
    a.send("hangup" + F + "pc-a" + F + "\r\n");
    const std::string ready = a.lineWith("READY" + I);
    ASSERT_FALSE(ready.empty());
    EXPECT_EQ(splitBy(splitBy(ready, '\xE0')[0], '\xE2')[4], "");
}

TEST_F(WireFixture, ControlBytesOfAClientNameReachTheTerminalEscaped)
{
    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send("connect" + F + "pc\x1b[2J\rLocal" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(c.line().substr(0, 3), "OK" + F);
    ASSERT_TRUE(server.waitForOutput("pc\\x1B[2J\\x0DLocal (")) << server.output();
    const std::string out = server.output();
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(out.find('\r'), std::string::npos);
}

namespace {
// The server's resident memory in KiB, from /proc.
long residentKiB(qint64 pid)
{
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const auto at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}
}  // namespace

TEST_F(WireFixture, AUserFloodingMessagesToItselfKeepsTheServerSmallAndTheOthersServed)
{
    // The flooder logs in and then sends 16 KB records to its own address as
    // fast as the kernel takes them, reading what comes back.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    std::atomic<bool> stop{false};
    std::thread drainer([fd] {
        char buf[65536];
        while (::recv(fd, buf, sizeof buf, 0) > 0) {
        }
    });
    std::thread flooder([&] {
        const std::string hello = "connect" + F + "flood" + F + "10.0.0.9" + F + "demo" + F + "245-53-210-81-" + F + "\r\n";
        const std::string line = "pesan" + F + "10.0.0.9" + F + "10.0.0.9" + L + "flood" + L + std::string(16000, 'x') +
                                 "\xE4" + L + "\xE5" + F + "\r\n";
        std::string out = hello;
        while (!stop) {
            for (std::size_t done = 0; done < out.size();) {
                const ssize_t n = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                done += static_cast<std::size_t>(n);
            }
            out = line;
        }
    });

    RawClient other;
    ASSERT_TRUE(other.open(port));
    other.send("connect" + F + "pc1" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(other.line().substr(0, 3), "OK" + F);
    const qint64 pid = server.process().processId();
    long peak = 0;
    QElapsedTimer t;
    t.start();
    int toggles = 0;
    while (t.elapsed() < 10000) {
        // The others keep their push lines: a lock of ours is seen at once.
        other.send("lock" + F + "\r\n");
        QElapsedTimer seen;
        seen.start();
        ASSERT_FALSE(other.lineWith(toggles % 2 == 0 ? I + "locking" + I : I + "free" + I + "0", 3000).empty())
            << "toggle " << toggles;
        EXPECT_LT(seen.elapsed(), 2000) << "toggle " << toggles;
        ++toggles;
        peak = std::max(peak, residentKiB(pid));
    }
    stop = true;
    ::shutdown(fd, SHUT_RDWR);
    flooder.join();
    drainer.join();
    ::close(fd);
    std::printf("flood: %d lock changes seen in 10 s, server at most %ld KiB resident\n", toggles, peak);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 150 * 1024);
}

TEST_F(WireFixture, StrangersAreNotHeardAndAUserWithoutPrivilegesIsRefusedWithItsRows)
{
    server.stop();
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n" +
              "viewer" + L + "Looks only" + L + "245-53-210-81-" + L + "0" + L + "0" + L + "0" + L + "0" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("1 entries")) << server.output();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    port = server.listeningPort();

    RawClient demo;
    ASSERT_TRUE(demo.open(port));
    demo.send("connect" + F + "pc-a" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(demo.line().substr(0, 3), "OK" + F);
    demo.send("lock" + F + "\r\n");
    ASSERT_FALSE(demo.lineWith(I + "locked" + I).empty());

    // Never logged in: nothing it sends is answered or done.
    const std::string commands = "dial" + F + "Metro" + F + "x" + F + "\r\n" + "hangup" + F + "x" + F + "\r\n" +
                                 "lock" + F + "\r\n" + "unlockall" + F + "\r\n" + "shutdown" + F + "\r\n" + "pesan" +
                                 F + "All" + F + "6.6.6.6" + L + "x" + L + "hi" + "\xE4" + L + "\xE5" + F + "\r\n";
    RawClient stranger;
    ASSERT_TRUE(stranger.open(port));
    stranger.send(commands);
    EXPECT_EQ(stranger.line(1500), "");

    // No privilege: every one refused, answered with the status record.
    RawClient viewer;
    ASSERT_TRUE(viewer.open(port));
    viewer.send("connect" + F + "pc-v" + F + "10.0.0.3" + F + "viewer" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(viewer.line(), "OK" + F + "Looks only" + F + "0" + F + "0" + F + "4" + F + "0" + F + "0" + F);
    ASSERT_FALSE(viewer.lineWith("pc-v" + L).empty());
    for (const std::string &line : {"dial" + F + "Metro" + F + "pc-v" + F + "\r\n", "hangup" + F + "pc-v" + F + "\r\n",
                                    "unlockall" + F + "\r\n", "shutdown" + F + "\r\n"}) {
        viewer.send(line);
        const auto items = statusItems(viewer.line());
        ASSERT_EQ(items.size(), 13u) << line;
        EXPECT_EQ(items[0], "READY") << line;
        EXPECT_EQ(items[3], "locked") << line;
    }
    // The one with the privileges is served as before.
    demo.send("unlockall" + F + "\r\n");
    ASSERT_FALSE(demo.lineWith(I + "free" + I).empty());
    EXPECT_EQ(server.output().find("shutdown requested"), std::string::npos) << server.output();
    EXPECT_EQ(server.output().find("6.6.6.6"), std::string::npos);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("doors-read"));
    db.setDatabaseName(QString::fromStdString(server.baseDir() + "/config/log.db"));
    ASSERT_TRUE(db.open());
    {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT usera, action, detail FROM audit ORDER BY id")));
        std::vector<std::string> rows;
        while (q.next())
            rows.push_back((QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()})
                               .join(QLatin1Char('|'))
                               .toStdString());
        EXPECT_EQ(rows, (std::vector<std::string>{"demo|lock|", "viewer|dial|Metro (refused: no dial privilege)",
                                                  "viewer|hangup|refused: no hang-up privilege",
                                                  "viewer|unlockall|refused: no unlock-all privilege",
                                                  "viewer|shutdown|refused: no shutdown privilege",
                                                  "demo|unlockall|"}));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("doors-read"));
}
