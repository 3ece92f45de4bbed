// The command line against real kernel interfaces: velora runs in a network
// namespace of its own, dials by bringing a veth end up, and its keep-alive
// echo must arrive in the provider's namespace at the other end. Started by
// netns_line_test.sh, which makes and removes the namespaces; run alone it
// skips.
#include <gtest/gtest.h>

#include <QTcpSocket>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"
#include "server/dialup/keepalive/TPing.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace velora::server::dialup;
using namespace velora::test;

using namespace velora::test;

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

// A raw ICMP socket that lives in another namespace: made there, used here.
int rawIcmpSocketIn(const std::string &ns, std::string &why)
{
    const int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int other = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    int fd = -1;
    if (self < 0 || other < 0 || ::setns(other, CLONE_NEWNET) != 0) {
        why = std::string("cannot enter ") + ns + ": " + std::strerror(errno);
    } else {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd < 0)
            why = std::string("raw socket: ") + std::strerror(errno);
        if (::setns(self, CLONE_NEWNET) != 0) {
            why = "cannot return to the server namespace";
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    if (self >= 0)
        ::close(self);
    if (other >= 0)
        ::close(other);
    return fd;
}

// Waits for an echo request from `from` that carries the keep-alive's signature.
bool keepAliveArrives(int fd, const std::string &from, int ms)
{
    const std::string signature = velora::server::dialup::TPing::kSignature;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        unsigned char buf[2048];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < static_cast<ssize_t>(sizeof(iphdr)))
            continue;
        iphdr ip{};
        std::memcpy(&ip, buf, sizeof ip);
        const std::size_t ihl = ip.ihl * 4u;
        if (static_cast<std::size_t>(n) < ihl + 8 + signature.size())
            continue;
        char src[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &ip.saddr, src, sizeof src);
        const unsigned char *icmp = buf + ihl;
        if (icmp[0] == ICMP_ECHO && src == from &&
            std::memcmp(icmp + 8, signature.data(), signature.size()) == 0)
            return true;
    }
    return false;
}

bool interfaceIsUp(const std::string &name)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq req{};
    std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_UP);
    if (fd >= 0)
        ::close(fd);
    return up;
}

}  // namespace

TEST(NetnsCommandLine, DialKeepAliveHangupAndAFailingConnectThroughTheRealServer)
{
    const std::string serverNs = env("VELORA_NETNS_SERVER"), providerNs = env("VELORA_NETNS_PROVIDER"),
                      iface = env("VELORA_NETNS_IFACE"), peer = env("VELORA_NETNS_PEER"),
                      address = env("VELORA_NETNS_ADDR");
    if (serverNs.empty() || providerNs.empty() || iface.empty())
        GTEST_SKIP() << "run through netns_line_test.sh, which makes the namespaces";

    std::string why;
    const int capture = rawIcmpSocketIn(providerNs, why);
    ASSERT_GE(capture, 0) << why;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{capture};

    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    server.writeConfig("[server]\nport=" + std::to_string(port) +
                       "\n[line]\ndriver=command\ntimeout=10\n"
                       "[dial]\nkeepalive=1\npingip=" + peer + "\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[Provider]\n"
              "connect=sh -c \"ip addr add " + address + "/30 dev " + iface + " && ip link set " + iface +
                  " up && ip route add default via " + peer + " dev " + iface + "\"\n"
              "disconnect=sh -c 'ip link set " + iface + " down; ip addr flush dev " + iface + "'\n"
              "interface=" + iface + "\n"
              "speed=115200\n"
              "device=veth modem\n"
              "[Broken]\n"
              "connect=sh -c \"echo dialing; echo 'modem: NO CARRIER on line 1' >&2; exit 3\"\n"
              "interface=" + iface + "\n");
    server.process().start(QStringLiteral("ip"),
                           {QStringLiteral("netns"), QStringLiteral("exec"), QString::fromStdString(serverNs),
                            QStringLiteral(VELORA_SERVER_BINARY), QStringLiteral("--headless"),
                            QStringLiteral("--no-shutdown"), QStringLiteral("--basedir"),
                            QString::fromStdString(server.baseDir())});
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    EXPECT_NE(server.output().find("velora: line: command, 2 entries"), std::string::npos) << server.output();

    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send("connect" + F + "pc-a" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(c.line(3000).substr(0, 3), "OK" + F);
    c.send("stat" + F + "\r\n");
    ASSERT_FALSE(c.lineWith("READY" + I).empty()) << server.output();

    c.send("dial" + F + "Provider" + F + "pc-a" + F + "\r\n");
    const std::string up = c.lineWith("Connected" + I);
    ASSERT_FALSE(up.empty()) << server.output();
    auto items = statusItems(up);
    ASSERT_EQ(items.size(), 13u);
    EXPECT_EQ(items[2], "Provider");
    EXPECT_EQ(items[6], "veth modem");
    EXPECT_TRUE(interfaceIsUp(iface));

    // The speed is read on a tick after "Connected"; lock toggles bring fresh records.
    QElapsedTimer t;
    t.start();
    while (items[5] != "115200" && t.elapsed() < 4000) {
        c.send("lock" + F + "\r\n");
        const std::string l = c.lineWith("Connected" + I);
        ASSERT_FALSE(l.empty());
        items = statusItems(l);
    }
    EXPECT_EQ(items[5], "115200");

    // The first keep-alive round goes out on the first second online.
    EXPECT_TRUE(keepAliveArrives(capture, address, 5000)) << server.output();

    // A toggle may have left our lock on; commands run in order, so the hang-up finds it off.
    c.send("unlockall" + F + "\r\n");
    c.send("hangup" + F + "pc-a" + F + "\r\n");
    ASSERT_FALSE(c.lineWith("READY" + I + "0:0:0" + I + "--").empty()) << server.output();
    waitFor([&] { return !interfaceIsUp(iface); }, 3000);
    EXPECT_FALSE(interfaceIsUp(iface)) << "disconnect must take the link down";
    // No later tick may find the link again.
    c.send("lock" + F + "\r\n");
    const std::string after = c.lineWith("locked" + I);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(statusItems(after)[0], "READY");
    c.send("unlockall" + F + "\r\n");
    ASSERT_FALSE(c.lineWith(I + "free" + I).empty());

    c.send("dial" + F + "Broken" + F + "pc-a" + F + "\r\n");
    const std::string failed = c.lineWith("NO CARRIER");
    ASSERT_FALSE(failed.empty()) << server.output();
    items = statusItems(failed);
    EXPECT_EQ(items[0], "Connect failed: modem: NO CARRIER on line 1");
    EXPECT_EQ(items[4], "Error press hangup button");
    c.send("hangup" + F + "pc-a" + F + "\r\n");
    const std::string ready = c.lineWith("READY" + I);
    ASSERT_FALSE(ready.empty());
    EXPECT_EQ(statusItems(ready)[4], "");

    server.stop();
    EXPECT_EQ(server.process().exitStatus(), QProcess::NormalExit);
}
