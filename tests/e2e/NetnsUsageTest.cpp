// Usage by computer of the real server between network namespaces: two
// office computers send 3 MiB and 1 MiB through the shared line, and after
// the hang-up `velora usage` shows each one's bytes up within 2 %. Started
// by netns_usage_test.sh, which makes and removes the namespaces; run alone
// it skips.
#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <sstream>

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

// Runs a tool to its end (or `ms`): its exit code and stdout.
std::pair<int, std::string> run(const QStringList &words, int ms = 15000, const QByteArray &input = {})
{
    QProcess p;
    p.start(words.first(), words.mid(1));
    if (!p.waitForStarted(3000))
        return {-1, {}};
    p.write(input);
    p.closeWriteChannel();
    if (!waitFor([&] { return p.state() == QProcess::NotRunning; }, ms)) {
        p.kill();
        p.waitForFinished(1000);
        return {-1, {}};
    }
    return {p.exitCode(), p.readAllStandardOutput().toStdString()};
}

// Sends `bytes` from the namespace to the provider.
bool send(const std::string &ns, int bytes)
{
    const QStringList words{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                            QString::fromStdString(ns), QStringLiteral("socat"), QStringLiteral("-u"),
                            QStringLiteral("-"), QStringLiteral("TCP:198.18.5.1:7001,connect-timeout=3")};
    return run(words, 20000, QByteArray(bytes, 'x')).first == 0;
}

// The "bytes up" of an address in `velora usage`, or -1.
long long upOf(const std::string &table, const std::string &address)
{
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::string addr, name, down, up;
        if (std::getline(f, addr, '\t') && addr == address && std::getline(f, name, '\t') &&
            std::getline(f, down, '\t') && std::getline(f, up))
            return std::stoll(up);
    }
    return -1;
}

}  // namespace

TEST(NetnsUsage, EachOfficeComputersBytesUpAreCountedWithinTwoPercent)
{
    const std::string aNs = env("VELORA_NS_A"), bNs = env("VELORA_NS_B"), iface = env("VELORA_IF_LINE");
    if (aNs.empty() || bNs.empty() || iface.empty())
        GTEST_SKIP() << "run through netns_usage_test.sh, which makes the namespaces";

    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\n[line]\ndriver=command\ntimeout=10\n[dial]\nICS=1\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[One]\nconnect=sh -c \"ip addr add 198.18.5.2/30 dev " + iface + " && ip link set " + iface +
                  " up && ip route add default via 198.18.5.1 dev " + iface + "\"\n"
                  "disconnect=sh -c 'ip link set " + iface + " down; ip addr flush dev " + iface + "'\n"
                  "interface=" + iface + "\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();

    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send("connect" + F + "pc-a" + F + "192.168.81.2" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(c.line(3000).substr(0, 3), "OK" + F);
    c.send("dial" + F + "One" + F + "pc-a" + F + "\r\n");
    ASSERT_FALSE(c.lineWith("Connected" + I).empty()) << server.output();
    // The counting starts at the first online second.
    ASSERT_TRUE(waitFor([] { return run({QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("chain"),
                                         QStringLiteral("inet"), QStringLiteral("velora"),
                                         QStringLiteral("usage_forward")})
                                    .second.find("@usage_up") != std::string::npos; },
                        5000));

    const int aBytes = 3 * 1048576, bBytes = 1048576;
    ASSERT_TRUE(send(aNs, aBytes)) << server.output();
    ASSERT_TRUE(send(bNs, bBytes)) << server.output();

    c.send("hangup" + F + "pc-a" + F + "\r\n");
    ASSERT_FALSE(c.lineWith("READY" + I).empty());
    const QStringList usage{QString::fromLatin1(VELORA_SERVER_BINARY), QStringLiteral("--basedir"),
                            QString::fromStdString(server.baseDir()), QStringLiteral("usage")};
    std::pair<int, std::string> out;
    // The last read comes with the first online-time tick that sees the line down.
    ASSERT_TRUE(waitFor([&] {
        out = run(usage);
        return upOf(out.second, "192.168.82.2") > 0;
    }, 5000)) << out.second << server.output();
    EXPECT_EQ(out.first, 0);
    const long long a = upOf(out.second, "192.168.81.2"), b = upOf(out.second, "192.168.82.2");
    EXPECT_NEAR(double(a), double(aBytes), aBytes * 0.02) << out.second;
    EXPECT_NEAR(double(b), double(bBytes), bBytes * 0.02) << out.second;
    // pc-a is logged in from its address: its row carries the client's name.
    EXPECT_NE(out.second.find("192.168.81.2\tpc-a\t"), std::string::npos) << out.second;
    EXPECT_EQ(out.second.rfind("192.168.81.2\t", 0), 0u) << "largest first: " << out.second;
    EXPECT_NE(out.second.find("\ntotal\t"), std::string::npos) << out.second;
    server.stop();
}
