// The doors of the real server between network namespaces: the office logs
// in, dials and reaches the relay; from the provider's side of the dialled
// line neither the client port nor the relay serves a byte, and a shutdown
// sent from there is never heard. Started by netns_doors_test.sh, which makes
// and removes the namespaces; run alone it skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

QString q(const std::string &s) { return QString::fromStdString(s); }

// A TCP connection made from inside namespace `ns`; -1 when it was not made
// within `ms` (refused, or its SYN dropped).
int connectFrom(const std::string &ns, const std::string &address, int port, int ms)
{
    const int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int other = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    int fd = -1;
    if (self >= 0 && other >= 0 && ::setns(other, CLONE_NEWNET) == 0) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::setns(self, CLONE_NEWNET) != 0)
            std::abort();  // the rest of the test would run in the wrong place
    }
    ::close(self);
    ::close(other);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (::poll(&p, 1, ms) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the peer sends until it closes or `ms` pass; `closed` says which.
std::string readFor(int fd, int ms, bool &closed)
{
    std::string got;
    closed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!closed && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(1, left.count()))) != 1)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            closed = true;
    }
    return got;
}

std::string run(const QStringList &words)
{
    QProcess p;
    p.start(words.first(), words.mid(1));
    p.waitForFinished(8000);
    return p.readAllStandardOutput().toStdString();
}

const std::string Login = "connect" + F + "pc-a" + F + "192.168.77.2" + F + "demo" + F + "245-53-210-81-" + F + "\r\n";

}  // namespace

TEST(NetnsDoors, TheOfficeIsServedAndTheDialledSideIsNot)
{
    const std::string lanNs = env("VELORA_NS_LAN"), providerNs = env("VELORA_NS_PROVIDER"),
                      line = env("VELORA_IF_LINE"), mode = env("VELORA_DOORS_MODE");
    if (lanNs.empty() || providerNs.empty() || line.empty())
        GTEST_SKIP() << "run through netns_doors_test.sh, which makes the namespaces";
    const bool plain = mode == "plain";

    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    quint16 tlsPort = freePort();
    while (tlsPort == port)
        tlsPort = freePort();
    quint16 webPort = freePort();
    while (webPort == port || webPort == tlsPort)
        webPort = freePort();
    // Sharing is what lets the server change the firewall; the plain run
    // has neither, so its own check stands alone.
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\ntlsport=" + std::to_string(tlsPort) + "\n[line]\ndriver=command\ntimeout=10\n[dial]\nICS=" +
                       (plain ? "0" : "1") + "\nsmtpautorelay=1\nsmtpport=2525\n[web]\nport=" + std::to_string(webPort) + "\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    // The modem: the test raises the link when asked, since a server without
    // the right to change links could not.
    const std::string raise = dir.file("raise"), raised = dir.file("raised");
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[One]\nconnect=sh -c \"touch " + raise + "; while [ ! -e " + raised +
                  " ]; do sleep 0.05; done\"\n"
                  "disconnect=true\ninterface=" + line + "\nspeed=115200\n");
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(q(server.baseDir() + "/config/log.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery s(db);
        ASSERT_TRUE(s.exec(QStringLiteral("CREATE TABLE smtp (entry TEXT, server TEXT, port TEXT)")));
        ASSERT_TRUE(s.exec(QStringLiteral("INSERT INTO smtp VALUES ('One', '198.18.1.1', '2525')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));

    if (plain) {
        server.process().start(QStringLiteral("setpriv"),
                               {QStringLiteral("--inh-caps=-net_admin"), QStringLiteral("--bounding-set=-net_admin"),
                                QStringLiteral("--"), QStringLiteral(VELORA_SERVER_BINARY), QStringLiteral("--headless"),
                                QStringLiteral("--no-shutdown"), QStringLiteral("--basedir"), q(server.baseDir())});
    } else {
        server.start();
    }
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();

    // The office logs in and dials.
    RawClient office;
    const int officeFd = connectFrom(lanNs, "192.168.77.1", port, 3000);
    ASSERT_GE(officeFd, 0);
    ASSERT_TRUE(office.socket.setSocketDescriptor(officeFd));
    office.send(Login);
    ASSERT_EQ(office.line(3000).substr(0, 3), "OK" + F);
    office.send("dial" + F + "One" + F + "pc-a" + F + "\r\n");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(raise); }, 5000)) << server.output();
    run({QStringLiteral("ip"), QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("198.18.1.2/30"),
         QStringLiteral("dev"), q(line)});
    run({QStringLiteral("ip"), QStringLiteral("link"), QStringLiteral("set"), q(line), QStringLiteral("up")});
    writeFile(raised, "");
    ASSERT_FALSE(office.lineWith("Connected" + I).empty()) << server.output();

    // The relay serves the office: the provider's banner comes through.
    ASSERT_TRUE(server.waitForOutput("SMTP relay: port 2525 passes mail to 198.18.1.1:2525")) << server.output();
    const int mail = connectFrom(lanNs, "192.168.77.1", 2525, 3000);
    ASSERT_GE(mail, 0);
    bool closed = false;
    EXPECT_NE(readFor(mail, 3000, closed).find("220 provider ESMTP"), std::string::npos) << server.output();
    ::close(mail);

    // From the provider's side: not a byte from any port, whatever it sends.
    for (const int p : {static_cast<int>(port), static_cast<int>(tlsPort), static_cast<int>(webPort), 2525}) {
        const int fd = connectFrom(providerNs, "198.18.1.2", p, 1500);
        if (!plain) {
            EXPECT_LT(fd, 0) << "the firewall guard should drop the connection to port " << p;
        } else {
            ASSERT_GE(fd, 0) << "the kernel completes the handshake; the server must close it";
        }
        if (fd < 0)
            continue;
        const std::string lines = Login + "shutdown" + F + "\r\n" + "dial" + F + "One" + F + "x" + F + "\r\n";
        ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
        EXPECT_EQ(readFor(fd, 3000, closed), "") << "port " << p;
        EXPECT_TRUE(closed) << "port " << p;
        ::close(fd);
    }

    // A computer that claims another's address is listed under its own.
    RawClient liar;
    const int liarFd = connectFrom(lanNs, "192.168.77.1", port, 3000);
    ASSERT_GE(liarFd, 0);
    ASSERT_TRUE(liar.socket.setSocketDescriptor(liarFd));
    liar.send("connect" + F + "pc-b" + F + "192.168.77.99" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(liar.line(3000).substr(0, 3), "OK" + F);
    const std::string listed = liar.lineWith("pc-b" + L);
    ASSERT_FALSE(listed.empty());
    const std::string addresses = statusItems(listed).at(10);
    EXPECT_EQ(addresses.find("192.168.77.99"), std::string::npos) << addresses;
    EXPECT_NE(addresses.find(L + "192.168.77.2" + L + "192.168.77.2" + L), std::string::npos) << addresses;

    // The office is still served; the provider was never heard.
    office.send("lock" + F + "\r\n");
    ASSERT_FALSE(office.lineWith("locked" + I).empty());
    if (plain) {
        EXPECT_TRUE(server.waitForOutput("came in over the dialled line (" + line + ")")) << server.output();
    } else {
        const std::string rules = run({QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("table"),
                                       QStringLiteral("inet"), QStringLiteral("velora")});
        std::vector<int> guarded{2525, port, tlsPort, webPort};
        std::sort(guarded.begin(), guarded.end());
        std::string set;
        for (const int p : guarded)
            set += (set.empty() ? "" : ", ") + std::to_string(p);
        EXPECT_NE(rules.find("iifname \"" + line + "\" tcp dport { " + set + " } ct state new drop"), std::string::npos)
            << rules;
    }
    EXPECT_EQ(server.output().find("shutdown requested"), std::string::npos) << server.output();

    server.stop();
    EXPECT_EQ(server.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run({QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("tables")}).find("velora"),
              std::string::npos);
}
