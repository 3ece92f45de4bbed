// Connections that never log in, from many addresses of 127.0.0.0/8, against
// the real server with short time-outs; a real user beside them.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHostAddress>

#include <cerrno>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

const std::string DemoCipher = "245-53-210-81-";

// A raw connection from a chosen loopback address that sends nothing.
struct Stranger {
    int fd = -1;
    Stranger(const std::string &from, quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in src{};
        src.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &src.sin_addr);
        sockaddr_in dst{};
        dst.sin_family = AF_INET;
        dst.sin_port = htons(port);
        dst.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&src), sizeof src) != 0 ||
            ::connect(fd, reinterpret_cast<sockaddr *>(&dst), sizeof dst) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Stranger()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Stranger(const Stranger &) = delete;
    Stranger &operator=(const Stranger &) = delete;
    // The server closed its end.
    bool closed() const
    {
        char b;
        const ssize_t n = ::recv(fd, &b, 1, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
};

std::size_t countClosed(const std::vector<std::unique_ptr<Stranger>> &all)
{
    std::size_t n = 0;
    for (const auto &s : all)
        n += s->closed() ? 1 : 0;
    return n;
}

struct StrangerFixture : ::testing::Test {
    TempDir dir;
    ServerProcess server{dir.file("base")};
    quint16 port = 0;

    void startWith(const std::string &serverKeys)
    {
        server.writeConfig("[server]\nport=0\n" + serverKeys);
        writeFile(server.baseDir() + "/config/user.cfg",
                  "demo" + L + "Demo user" + L + DemoCipher + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
        writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=1\n");
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
        port = server.listeningPort();
    }
    std::vector<std::unique_ptr<Stranger>> strangers(int perAddress, std::vector<std::string> from)
    {
        std::vector<std::unique_ptr<Stranger>> all;
        for (const auto &a : from)
            for (int i = 0; i < perAddress; ++i) {
                all.push_back(std::make_unique<Stranger>(a, port));
                EXPECT_GE(all.back()->fd, 0) << "connect from " << a;
            }
        return all;
    }
    static std::string login(const std::string &password = DemoCipher)
    {
        return "connect" + F + "pc1" + F + "10.0.0.1" + F + "demo" + F + password + F + "\r\n";
    }
    bool openFrom(RawClient &c, const std::string &from)
    {
        c.socket.bind(QHostAddress(QString::fromStdString(from)));
        return c.open(port);
    }
};

}  // namespace

TEST_F(StrangerFixture, IdleStrangersAreBoundedAndTimedOutWhileARealUserLogsInAndDials)
{
    startWith("logintimeout=2\n");
    // 300 from three addresses: 16 of each stay (the per-address cap), 48 in
    // all, below the 64 that may wait to log in.
    auto all = strangers(100, {"127.0.0.11", "127.0.0.12", "127.0.0.13"});
    ASSERT_TRUE(waitFor([&] { return countClosed(all) == 252; }, 5000)) << countClosed(all);
    EXPECT_TRUE(server.waitForOutput("refused 252 connections that had not logged in, from 127.0.0.11 (84), "
                                     "127.0.0.12 (84), 127.0.0.13 (84)"))
        << server.output();

    RawClient user;
    ASSERT_TRUE(user.open(port));
    QElapsedTimer answered;
    answered.start();
    user.send(login());
    ASSERT_EQ(user.line().substr(0, 3), "OK" + F);
    EXPECT_LT(answered.elapsed(), 1000);
    user.send("dial" + F + "Metro" + F + "pc1" + F + "\r\n");
    EXPECT_FALSE(user.lineWith("Connected" + I).empty()) << server.output();

    // Two seconds after they came, the 48 are closed; the user stays.
    EXPECT_TRUE(waitFor([&] { return countClosed(all) == all.size(); }, 4000)) << countClosed(all);
    user.send("lock" + F + "\r\n");
    EXPECT_FALSE(user.lineWith("locked").empty());
    EXPECT_EQ(user.socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(StrangerFixture, AFullWaitingRoomMakesRoomForTheNewcomerAndTheAddressCapStands)
{
    startWith("logintimeout=1\nmaxpending=10\nmaxperaddress=6\n");
    auto all = strangers(8, {"127.0.0.21", "127.0.0.22"});
    // 6 + 4 wait, the rest is closed at once.
    ASSERT_TRUE(waitFor([&] { return countClosed(all) == 6; }, 3000)) << countClosed(all);

    // A newcomer takes the place of the oldest stranger and logs in.
    RawClient early;
    ASSERT_TRUE(openFrom(early, "127.0.0.23"));
    early.send(login());
    EXPECT_EQ(early.line().substr(0, 3), "OK" + F);
    EXPECT_TRUE(waitFor([&] { return countClosed(all) == 7; }, 3000)) << countClosed(all);

    EXPECT_TRUE(waitFor([&] { return countClosed(all) == all.size(); }, 3000));
    // Logged-in sessions count against their address too.
    std::vector<std::unique_ptr<RawClient>> more;
    for (int i = 0; i < 5; ++i) {
        more.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(openFrom(*more.back(), "127.0.0.23"));
    }
    RawClient seventh;
    ASSERT_TRUE(openFrom(seventh, "127.0.0.23"));
    EXPECT_TRUE(seventh.closedByPeer(1000));
    EXPECT_FALSE(more.back()->closedByPeer(200));
}

TEST_F(StrangerFixture, TwelveHundredIdleStrangersKeepNoUserOutOfAServerWith1024Descriptors)
{
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = std::min<rlim_t>(r.rlim_max, 8192);
    if (::setrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur < 4096)
        GTEST_SKIP() << "this test needs 4096 descriptors of its own";
    // One user name for the whole office here, so it may hold 301 sessions.
    server.writeConfig("[server]\nport=0\nmaxperuser=400\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + DemoCipher + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=1\n");
    server.process().start(QStringLiteral("prlimit"),
                           {QStringLiteral("--nofile=1024:1024"), QStringLiteral("--"), QStringLiteral(VELORA_SERVER_BINARY),
                            QStringLiteral("--headless"), QStringLiteral("--no-shutdown"), QStringLiteral("--basedir"),
                            QString::fromStdString(server.baseDir())});
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    port = server.listeningPort();

    std::vector<std::unique_ptr<Stranger>> crowd;
    for (int i = 0; i < 1200; ++i)
        crowd.push_back(std::make_unique<Stranger>(
            "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), port));
    RawClient user;
    ASSERT_TRUE(openFrom(user, "127.0.200.1"));
    QElapsedTimer answered;
    answered.start();
    user.send(login());
    ASSERT_EQ(user.line(2000).substr(0, 3), "OK" + F) << server.output();
    const qint64 loginMs = answered.elapsed();
    EXPECT_LT(loginMs, 1000);

    // Then an office of 300, each from its own address, in waves as
    // computers start.
    std::vector<std::unique_ptr<RawClient>> office;
    for (int wave = 0; wave < 6; ++wave) {
        const std::size_t first = office.size();
        for (int i = 0; i < 50; ++i) {
            office.push_back(std::make_unique<RawClient>());
            ASSERT_TRUE(openFrom(*office.back(), "127.2." + std::to_string(wave) + "." + std::to_string(i + 1)));
            office.back()->send(login());
        }
        for (std::size_t k = first; k < office.size(); ++k)
            ASSERT_EQ(office[k]->line(3000).substr(0, 3), "OK" + F) << "client " << k << "\n" << server.output();
    }
    user.send("dial" + F + "Metro" + F + "pc1" + F + "\r\n");
    QElapsedTimer seen;
    seen.start();
    for (std::size_t k = 0; k < office.size(); ++k)
        ASSERT_FALSE(office[k]->lineWith("Connected" + I, 3000).empty()) << "client " << k;
    const qint64 seenMs = seen.elapsed();
    EXPECT_LT(seenMs, 2000);
    std::printf("flood of 1200 idle strangers: a login answered in %lld ms; 300 clients saw the dial within %lld ms\n",
                static_cast<long long>(loginMs), static_cast<long long>(seenMs));
    EXPECT_TRUE(server.waitForOutput("refused ")) << server.output();
}

TEST_F(StrangerFixture, FiveFailedLoginsMakeTheAddressWaitAndAGoodLoginEndsIt)
{
    startWith("");
    for (int i = 0; i < 5; ++i) {
        RawClient c;
        ASSERT_TRUE(openFrom(c, "127.0.0.31"));
        c.send(login("1-2-3-"));
        ASSERT_EQ(c.line(), "FAIL" + F + "wrong username/password" + F) << i;
    }
    EXPECT_TRUE(server.waitForOutput("failed login from 127.0.0.31 as \"demo\": wrong username/password; "
                                     "its next login is checked in 10 s"))
        << server.output();
    EXPECT_EQ(server.output().find("1-2-3-"), std::string::npos) << "a password reached the log";

    // Another address is not held back.
    RawClient other;
    ASSERT_TRUE(openFrom(other, "127.0.0.32"));
    other.send(login());
    EXPECT_EQ(other.line(1000).substr(0, 3), "OK" + F);

    RawClient held;
    ASSERT_TRUE(openFrom(held, "127.0.0.31"));
    QElapsedTimer t;
    t.start();
    held.send(login());
    EXPECT_EQ(held.line(2000), "");
    EXPECT_EQ(held.line(12000).substr(0, 3), "OK" + F);
    EXPECT_GT(t.elapsed(), 8000);

    // Reset: the next failure is checked at once.
    RawClient again;
    ASSERT_TRUE(openFrom(again, "127.0.0.31"));
    again.send(login("1-2-3-"));
    EXPECT_EQ(again.line(1000), "FAIL" + F + "wrong username/password" + F);
}

TEST_F(StrangerFixture, ListenBindsTheGivenAddressOnly)
{
    startWith("listen=127.0.0.5\n");
    EXPECT_NE(server.output().find("listening on port " + std::to_string(port) + " of 127.0.0.5"), std::string::npos)
        << server.output();
    RawClient there;
    there.socket.connectToHost(QStringLiteral("127.0.0.5"), port);
    EXPECT_TRUE(there.socket.waitForConnected(2000));
    RawClient elsewhere;
    EXPECT_FALSE(elsewhere.open(port));
}

TEST_F(StrangerFixture, BadValuesAreReportedAndTheDefaultsServe)
{
    startWith("logintimeout=soon\nmaxpending=-3\n");
    const std::string out = server.output();
    EXPECT_NE(out.find("[server] logintimeout=soon is not a positive number; using 30"), std::string::npos) << out;
    EXPECT_NE(out.find("[server] maxpending=-3 is not a positive number; using 64"), std::string::npos) << out;
    EXPECT_NE(out.find("of all addresses"), std::string::npos) << out;
    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send(login());
    EXPECT_EQ(c.line().substr(0, 3), "OK" + F);
}

TEST_F(StrangerFixture, AListenInterfaceWithoutAnAddressKeepsTheServerOffline)
{
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\nlisten=eth-nowhere\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("offline (base dir")) << server.output();
    EXPECT_NE(server.output().find("config.ini: [server] listen=eth-nowhere is neither an address nor an interface "
                                   "with an IPv4 address; the server stays offline and tries again each minute"),
              std::string::npos)
        << server.output();
    EXPECT_EQ(server.output().find("all addresses"), std::string::npos) << server.output();
    RawClient c;
    EXPECT_FALSE(c.open(port));
}
