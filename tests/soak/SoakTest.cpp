// The real server under a working day's worst on loopback: 500 logged-in
// clients (some flood the chat, some never read, some reconnect in a loop)
// and 300 strangers, while a well-behaved client locks, unlocks, dials and
// hangs up and measures when each status change reaches it.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "soak/SoakLoad.h"
#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

struct Usage {
    std::size_t descriptors = 0;
    long rssKb = 0;
};

Usage usageOf(qint64 pid)
{
    Usage u;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++u.descriptors;
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            u.rssKb = std::stol(line.substr(6));
    return u;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

bool within10Percent(double now, double start) { return now <= start * 1.1 && now >= start * 0.9; }

}  // namespace

TEST(Soak, AWellBehavedClientKeepsItsPaceUnderFloodsStrangersAndReconnects)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    // Every connection of the load logs in as the one user.
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\nlisten=127.0.0.1\nlogintimeout=2\nmaxperuser=1000\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=1\n");
    // To a file: nothing here reads the pipe while the load runs.
    const std::string errors = dir.file("server.err");
    server.process().setStandardErrorFile(QString::fromStdString(errors));
    server.start();
    ASSERT_TRUE(waitFor([&] { return readFile(errors).find("listening on port") != std::string::npos; }))
        << readFile(errors);
    const qint64 pid = server.process().processId();

    RawClient well;
    ASSERT_TRUE(well.open(port));
    well.send("connect" + F + "well" + F + "10.0.0.1" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(well.line().substr(0, 3), "OK" + F);
    ASSERT_FALSE(well.lineWith("READY").empty());
    // Settled: the first figures are the server at rest with one client, once
    // a status tick has gone by with it (the record it asked for again).
    well.send("stat" + F + "\r\n");
    well.lineWith("READY");
    const Usage before = usageOf(pid);

    soak::LoadCounts counts;
    soak::LoadPlan plan;
    plan.port = port;
    soak::Load load(plan, counts);
    ASSERT_TRUE(load.logIn(std::chrono::seconds(20))) << counts.loggedIn << " logged in";
    load.start();

    // The measured changes: each waits for the record that shows it.
    std::vector<double> lockMs, dialMs;
    int cycles = 0;
    std::string last;
    auto await = [&](const std::string &what, std::size_t item, std::vector<double> *into) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 8000) {
            const std::string l = well.lineWith(I, 8000 - static_cast<int>(t.elapsed()));
            const auto items = statusItems(l);
            if (items.size() > item && items[item] == what) {
                if (into)
                    into->push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
                return true;
            }
            if (l.empty())
                break;
            last = items.size() > 3 ? items[0] + "/" + items[3] : "(no status) " + std::to_string(l.size());
        }
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        std::printf("soak: waited %lld ms for %s; last record %s; socket %d; server stat %s\n", t.elapsed(), what.c_str(), last.c_str(),
                    int(well.socket.state()), stat.substr(0, 200).c_str());
        return false;
    };
    QElapsedTimer soakTime;
    soakTime.start();
    while (soakTime.elapsed() < 30000) {
        well.send("lock" + F + "\r\n");
        ASSERT_TRUE(await("locked", 3, &lockMs)) << "cycle " << cycles;
        well.send("lock" + F + "\r\n");
        ASSERT_TRUE(await("free", 3, &lockMs)) << "cycle " << cycles;
        if (cycles % 3 == 0) {
            well.send("dial" + F + "Metro" + F + "well" + F + "\r\n");
            ASSERT_TRUE(await("Connected", 0, nullptr)) << "cycle " << cycles;
            well.send("hangup" + F + "\r\n");
            ASSERT_TRUE(await("READY", 0, &dialMs)) << "cycle " << cycles;
        }
        ++cycles;
    }
    const Usage loaded = usageOf(pid);
    load.stop();

    // The load gone, the server gives back what it took.
    Usage after;
    const bool fdsBack = waitFor([&] { after = usageOf(pid); return within10Percent(static_cast<double>(after.descriptors), static_cast<double>(before.descriptors)); }, 10000);
    const bool rssBack = waitFor([&] { after = usageOf(pid); return within10Percent(static_cast<double>(after.rssKb), static_cast<double>(before.rssKb)); }, 10000);

    const std::string refusedLines = [&] {
        std::string out = readFile(errors), lines;
        for (std::size_t at = 0; (at = out.find("velora: refused ", at)) != std::string::npos; ++at)
            lines += out.substr(at, std::min<std::size_t>(out.find('\n', at) - at, 160)) + "\n";
        return lines;
    }();
    std::printf("soak: %d cycles; lock/unlock arrival p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu changes); "
                "hang-up arrival p50 %.1f ms\n",
                cycles, percentile(lockMs, 0.5), percentile(lockMs, 0.99), percentile(lockMs, 1.0), lockMs.size(),
                percentile(dialMs, 0.5));
    std::printf("soak: descriptors %zu before, %zu loaded, %zu after; RSS %ld kB before, %ld kB loaded, %ld kB after\n",
                before.descriptors, loaded.descriptors, after.descriptors, before.rssKb, loaded.rssKb, after.rssKb);
    std::printf("soak: %lld chat messages sent, %lld bytes read by the load; reconnects %d; never-readers closed %d; "
                "strangers: %d connects, %d refused at once, %d timed out\n",
                static_cast<long long>(counts.messagesSent), static_cast<long long>(counts.bytesRead),
                int(counts.reconnects), int(counts.neverReadClosed), int(counts.strangerConnects),
                int(counts.strangersRefused), int(counts.strangersTimedOut));
    std::printf("soak: the server's refusal lines:\n%s", refusedLines.c_str());

    // One tick (500 ms) and 100 ms for every change.
    EXPECT_LE(percentile(lockMs, 1.0), 600.0);
    EXPECT_EQ(counts.readersClosed, 0);
    EXPECT_EQ(counts.floodersClosed, 0);
    EXPECT_EQ(well.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_GT(counts.strangersTimedOut + counts.strangersRefused, 0);
    EXPECT_TRUE(fdsBack) << before.descriptors << " -> " << after.descriptors;
    EXPECT_TRUE(rssBack) << before.rssKb << " kB -> " << after.rssKb << " kB";
}
