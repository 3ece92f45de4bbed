// The traffic figures of a real interface: velora runs in a network namespace
// of its own and dials a command entry whose interface is a veth end; 2 MB
// sent from the provider's end must show in a subscriber's traffic parts.
// Started by netns_line_test.sh, which makes and removes the namespaces; run
// alone it skips.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

// A TCP socket that lives in another namespace: made there, used here.
int tcpSocketIn(const std::string &ns)
{
    const int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int other = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    int fd = -1;
    if (self >= 0 && other >= 0 && ::setns(other, CLONE_NEWNET) == 0) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::setns(self, CLONE_NEWNET) != 0) {
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

}  // namespace

TEST(NetnsTraffic, TwoMegabytesFromTheProviderShowInTheTrafficParts)
{
    const std::string serverNs = env("VELORA_NETNS_SERVER"), providerNs = env("VELORA_NETNS_PROVIDER"),
                      iface = env("VELORA_NETNS_IFACE"), peer = env("VELORA_NETNS_PEER"),
                      address = env("VELORA_NETNS_ADDR");
    if (serverNs.empty() || providerNs.empty() || iface.empty())
        GTEST_SKIP() << "run through netns_line_test.sh, which makes the namespaces";

    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\n[line]\ndriver=command\ntimeout=10\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[Provider]\n"
              "connect=sh -c \"ip addr add " + address + "/30 dev " + iface + " && ip link set " + iface + " up\"\n"
              "disconnect=sh -c 'ip link set " + iface + " down; ip addr flush dev " + iface + "'\n"
              "interface=" + iface + "\n"
              "speed=115200\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();

    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send("connect" + F + "pc-a" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(c.line(3000).substr(0, 3), "OK" + F);
    c.send("bandwidth" + F + "active" + F + "\r\n");
    c.send("dial" + F + "Provider" + F + "pc-a" + F + "\r\n");
    std::string up = c.lineWith("Connected" + I);
    ASSERT_FALSE(up.empty()) << server.output();

    // The speed field: the entry's configured speed, through the sampler.
    QElapsedTimer t;
    t.start();
    while (statusItems(up)[5] != "115200" && t.elapsed() < 5000) {
        c.send("lock" + F + "\r\n");
        up = c.lineWith("Connected" + I);
        ASSERT_FALSE(up.empty());
    }
    EXPECT_EQ(statusItems(up)[5], "115200");

    // The veth end reaches "up" a little after its peer; then 2 MB over TCP.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << std::strerror(errno);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    ASSERT_EQ(::listen(listener, 1), 0);
    int sender = -1;
    const bool connected = waitFor([&] {
        sender = tcpSocketIn(providerNs);
        if (sender >= 0 && ::connect(sender, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return true;
        if (sender >= 0)
            ::close(sender);
        sender = -1;
        return false;
    }, 5000);
    ASSERT_TRUE(connected) << std::strerror(errno);
    const int receiver = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(receiver, 0);

    // What came before the transfer is read and set aside.
    std::string previous;
    for (const std::string &l : linesFor(c, 1500))
        previous = trafficPart(l);

    const std::size_t sent = 2u * 1024 * 1024;
    std::thread writer([sender, sent] {
        const std::string chunk(64 * 1024, 'v');
        for (std::size_t done = 0; done < sent; done += chunk.size())
            if (::send(sender, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0)
                break;
        ::shutdown(sender, SHUT_WR);
    });
    std::size_t received = 0;
    char buf[65536];
    for (ssize_t n; (n = ::recv(receiver, buf, sizeof buf, 0)) > 0;)
        received += static_cast<std::size_t>(n);
    writer.join();
    ::close(sender);
    ::close(receiver);
    ::close(listener);
    ASSERT_EQ(received, sent);

    // Each sample shows once or twice in a row (odd ticks repeat it).
    std::uint64_t down = 0, upBytes = 0;
    int samples = 0;
    // Long enough for the last sample of the transfer on a loaded machine.
    for (const std::string &l : linesFor(c, 6000)) {
        const std::string part = trafficPart(l);
        if (part.empty() || part == previous)
            continue;
        previous = part;
        const auto items = splitBy(part, '\xE2');
        ASSERT_EQ(items.size(), 2u);
        down += std::stoull(items[0]);
        upBytes += std::stoull(items[1]);
        ++samples;
    }
    std::printf("traffic parts: %llu bytes down, %llu up, in %d samples, for %zu bytes sent\n",
                static_cast<unsigned long long>(down), static_cast<unsigned long long>(upBytes), samples, sent);
    EXPECT_GE(samples, 1);
    EXPECT_GE(down, sent * 9 / 10) << "downloaded per the traffic parts: " << down;
    EXPECT_LE(down, sent * 11 / 10) << "downloaded per the traffic parts: " << down;
    EXPECT_GT(upBytes, 0u) << "the acknowledgements went the other way";

    // The figures are what this test is about; the line is taken down by
    // stopping the server, whose end runs the entry's disconnect.
    server.stop();
}
