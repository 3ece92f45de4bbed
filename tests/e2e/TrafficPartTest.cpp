// The traffic part of the push lines, from the real server on the simulated
// line: the latest figures in every line, and a line on every tick for the
// client whose meter is open.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"

using namespace velora::test;

namespace {

void login(RawClient &c, quint16 port, const std::string &name)
{
    ASSERT_TRUE(c.open(port));
    c.send("connect" + F + name + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(c.line().substr(0, 3), "OK" + F);
}

}  // namespace

TEST(TrafficPart, TheSubscriberIsPushedEveryTickAndEveryLineKeepsTheLastPair)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    server.writeConfig("[server]\nport=0\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    const quint16 port = server.listeningPort();

    RawClient meter, plain;
    login(meter, port, "pc-meter");
    login(plain, port, "pc-plain");
    meter.send("bandwidth" + F + "active" + F + "\r\n");
    meter.send("dial" + F + "Metro" + F + "pc-meter" + F + "\r\n");
    ASSERT_FALSE(meter.lineWith("Connected" + I).empty()) << server.output();

    // A subscriber is pushed a line on every tick while connected.
    const auto lines = linesFor(meter, 3500);
    ASSERT_GE(lines.size(), 5u);
    std::vector<long> downloads;
    for (const std::string &l : lines) {
        const std::string t = trafficPart(l);
        if (t.empty())
            continue;
        const auto items = splitBy(t, '\xE2');
        ASSERT_EQ(items.size(), 2u) << t;
        downloads.push_back(std::stol(items[0]));
        EXPECT_GE(std::stol(items[1]), 0);
    }
    ASSERT_GE(downloads.size(), 4u);
    EXPECT_EQ(downloads.front(), 0) << "the link's first sample";
    // 56000 bit/s, half of it down: about 3500 bytes a second.
    EXPECT_NEAR(downloads.back(), 3500, 1800);
    EXPECT_GT(*std::max_element(downloads.begin(), downloads.end()), 1000);

    // Without a meter a client is pushed only when something changes (the
    // pushes of the dial itself are behind it by now).
    linesFor(plain, 400);
    EXPECT_LE(linesFor(plain, 1500).size(), 1u);
    EXPECT_GE(linesFor(meter, 1500).size(), 2u);

    // After the hang-up the subscriber's lines carry the last pair.
    meter.send("hangup" + F + "pc-meter" + F + "\r\n");
    const std::string ready = meter.lineWith("READY" + I);
    ASSERT_FALSE(ready.empty());
    const std::string last = trafficPart(ready);
    EXPECT_FALSE(last.empty());
    meter.send("lock" + F + "\r\n");
    const std::string later = meter.lineWith("locked" + I);
    ASSERT_FALSE(later.empty());
    EXPECT_EQ(trafficPart(later), last);
    const std::string plainLater = plain.lineWith("locked" + I);
    ASSERT_FALSE(plainLater.empty());
    EXPECT_EQ(trafficPart(plainLater), last) << "the same figures in every push line";

    // "unactive" ends the per-tick pushes, not the figures.
    meter.send("bandwidth" + F + "unactive" + F + "\r\n");
    meter.send("unlockall" + F + "\r\n");
    const std::string freed = meter.lineWith(I + "free" + I);
    ASSERT_FALSE(freed.empty());
    EXPECT_EQ(trafficPart(freed), last);
}
