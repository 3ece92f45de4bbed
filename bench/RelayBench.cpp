// The SMTP relay's figures: 1 GiB through the relay (splice and copy) and
// through socat on loopback with the same sender and sink; 100 relayed
// connections at once with the status tick's longest stall while the core's
// own relay carries them; memory per idle relayed connection. Prints
// figures, never fails.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>

#include "bench/Process.h"
#include "server/frame/ServerCore.h"
#include "server/sharing/SmtpRelay.h"
#include "support/FakeServerPlatform.h"
#include "support/RelaySockets.h"

using namespace velora::server;
using namespace velora::test;

using velora::bench::pump;
using velora::bench::rssKiB;

namespace {

using Clock = std::chrono::steady_clock;

void blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

// Accepts `count` connections and reads each to its end, one thread each.
struct Sink {
    std::uint16_t port = 0;  // before the listener, which sets it
    Fd listener;
    std::atomic<std::uint64_t> bytes{0};
    std::vector<std::thread> threads;

    Sink() : listener(listenLoopback(port)) { blocking(listener.fd); }
    void expect(int count)
    {
        threads.emplace_back([this, count] {
            std::vector<std::thread> readers;
            for (int i = 0; i < count; ++i) {
                const int fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                readers.emplace_back([this, fd] {
                    std::vector<char> buf(256 * 1024);
                    ssize_t n;
                    while ((n = ::read(fd, buf.data(), buf.size())) > 0)
                        bytes += static_cast<std::uint64_t>(n);
                    ::close(fd);
                });
            }
            for (auto &t : readers)
                t.join();
        });
    }
    void join()
    {
        for (auto &t : threads)
            t.join();
        threads.clear();
    }
};

// Writes `bytes` to each of `count` connections to `port`, one thread each;
// the seconds until the sink has read it all.
// With `pace`, each sender keeps to that many bytes a second.
double transfer(Sink &sink, std::uint16_t port, int count, std::uint64_t bytes, std::uint64_t pace = 0)
{
    sink.bytes = 0;
    sink.expect(count);
    const auto start = Clock::now();
    std::vector<std::thread> senders;
    for (int i = 0; i < count; ++i)
        senders.emplace_back([port, bytes, pace] {
            Fd s = connectLoopback(port, true);
            const std::vector<char> block(pace ? 16 * 1024 : 256 * 1024, 'x');
            std::uint64_t sent = 0;
            const auto began = Clock::now();
            while (sent < bytes) {
                if (pace)
                    std::this_thread::sleep_until(began + std::chrono::microseconds(sent * 1000000 / pace));
                const ssize_t n = ::send(s.fd, block.data(), std::min<std::uint64_t>(block.size(), bytes - sent),
                                         MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += static_cast<std::uint64_t>(n);
            }
            ::shutdown(s.fd, SHUT_WR);
            char c;
            while (::read(s.fd, &c, 1) > 0) {
            }
        });
    for (auto &t : senders)
        t.join();
    sink.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double mibPerSecond(std::uint64_t bytes, double seconds) { return bytes / 1048576.0 / seconds; }

double throughRelay(bool splice, std::uint64_t bytes)
{
    Sink sink;
    sharing::RelayLimits limits;
    limits.splice = splice;
    sharing::SmtpRelay relay(limits);
    relay.start("127.0.0.1", 0, "127.0.0.1", sink.port);
    return mibPerSecond(bytes, transfer(sink, relay.port(), 1, bytes));
}

// socat between the same sender and sink; 0 when it cannot be run.
double throughSocat(std::uint64_t bytes)
{
    Sink sink;
    const std::uint16_t port = closedPort();
    QProcess socat;
    // fork: the readiness probe's connection does not use up the transfer's.
    socat.start(QStringLiteral("socat"), {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port),
                                          QStringLiteral("TCP:127.0.0.1:%1").arg(sink.port)});
    if (!socat.waitForStarted(3000))
        return 0;
    bool up = false;
    for (int i = 0; i < 300 && !up; ++i) {
        up = bool(connectLoopback(port, true));  // connected and closed at once
        if (!up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!up)
        return 0;
    // The probe reached the sink through socat: let it end there first.
    sink.expect(1);
    sink.join();
    const double rate = mibPerSecond(bytes, transfer(sink, port, 1, bytes));
    socat.terminate();
    socat.waitForFinished(2000);
    return rate;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    const std::uint64_t gib = argc > 1 ? std::stoull(argv[1]) << 20 : 1ull << 30;
    std::printf("bench_relay: %llu MiB, one connection, loopback, the same sender and sink\n",
                static_cast<unsigned long long>(gib >> 20));
    const double splice = throughRelay(true, gib);
    std::printf("  relay (splice)      %8.1f MiB/s\n", splice);
    const double copy = throughRelay(false, gib);
    std::printf("  relay (copy)        %8.1f MiB/s\n", copy);
    const double socat = throughSocat(gib);
    std::printf("  socat               %8.1f MiB/s\n", socat);
    if (socat > 0)
        std::printf("  ratio relay/socat   %8.2f (splice)  %.2f (copy)\n", splice / socat, copy / socat);

    // 100 at once through the core's own relay, the status tick running beside
    // it. Senders and sinks stand for the office's computers and the provider:
    // a child process of lower priority, so that their 200 threads do not
    // pass for the server's own stalls.
    const int many = 100;
    const std::uint64_t each = 16ull << 20;
    const std::uint16_t relayPort = closedPort();
    int toChild[2], fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
        return 0;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        [[maybe_unused]] int n = ::nice(10);
        Sink sink;
        std::uint16_t port = sink.port;
        n = static_cast<int>(::write(fromChild[1], &port, sizeof port));
        char mode;
        while (::read(toChild[0], &mode, 1) == 1) {
            const double seconds = mode == 'p' ? transfer(sink, relayPort, many, 4ull << 20, 2ull << 20)
                                               : transfer(sink, relayPort, many, each);
            n = static_cast<int>(::write(fromChild[1], &seconds, sizeof seconds));
        }
        ::_exit(0);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    std::uint16_t sinkPort = 0;
    if (::read(fromChild[0], &sinkPort, sizeof sinkPort) != sizeof sinkPort)
        return 0;
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    std::filesystem::create_directories(base + "/config");
    std::ofstream(base + "/config/config.ini")
        << "[server]\nport=0\n[general]\nonlinestartup=0\n[dial]\nsmtpautorelay=1\nsmtpport=" << relayPort << "\n";
    std::ofstream(base + "/config/phonebook.ini") << "[ISP]\ndelay=0\n";
    frame::ServerOptions options;
    options.baseDir = base;
    options.listenAddress = "127.0.0.1";
    frame::ServerCore core(options, fakePlatform(base));
    core.inisiasiawal();
    core.Timer2Timer();
    core.logDatabase().saveSmtp("ISP", {"127.0.0.1", std::to_string(sinkPort)});
    core.dialup().executedial("ISP", "Local");
    QElapsedTimer t;
    t.start();
    while (core.state().ActiveStatus != velora::server::state::LinkState::Connected && t.elapsed() < 3000) {
        core.Timer1Timer();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    core.Timer3Timer();
    if (!core.smtpRelay()) {
        std::printf("  the core's relay did not start\n");
        return 0;
    }
    // The status tick every 10 ms instead of 500: more chances to see a stall.
    qint64 longestTick = 0, longestLate = 0;
    QElapsedTimer since;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestLate = std::max(longestLate, since.nsecsElapsed() / 1000 - 10000);
        QElapsedTimer one;
        one.start();
        core.Timer1Timer();
        longestTick = std::max(longestTick, one.nsecsElapsed() / 1000);
        since.restart();
    });
    // The same tick with nothing relayed, for the machine's own share of late starts.
    since.start();
    tick.start();
    QTimer::singleShot(1500, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    tick.stop();
    std::printf("bench_relay: status tick with nothing relayed: longest run %.2f ms, longest late start %.2f ms\n",
                longestTick / 1000.0, std::max<qint64>(0, longestLate) / 1000.0);
    longestTick = longestLate = 0;

    double seconds = 0;
    QSocketNotifier finished(fromChild[0], QSocketNotifier::Read);
    QObject::connect(&finished, &QSocketNotifier::activated, [&] {
        if (::read(fromChild[0], &seconds, sizeof seconds) != sizeof seconds)
            seconds = -1;
        QCoreApplication::exit(0);
    });
    auto phase = [&](char mode) {
        longestTick = longestLate = 0;
        since.start();
        tick.start();
        [[maybe_unused]] auto sent = ::write(toChild[1], &mode, 1);
        QCoreApplication::exec();
        tick.stop();
    };
    phase('f');
    std::printf("bench_relay: %d connections at once, %llu MiB each at full speed, through the core's relay\n", many,
                static_cast<unsigned long long>(each >> 20));
    std::printf("  total               %8.1f MiB/s (%.2f s)\n", mibPerSecond(each * many, seconds), seconds);
    std::printf("  status tick: longest run %.2f ms, longest late start %.2f ms\n", longestTick / 1000.0,
                std::max<qint64>(0, longestLate) / 1000.0);
    phase('p');
    std::printf("bench_relay: %d connections at once, 4 MiB each at 2 MiB/s each (200 MiB/s in all)\n", many);
    std::printf("  total               %8.1f MiB/s (%.2f s)\n", mibPerSecond((4ull << 20) * many, seconds), seconds);
    std::printf("  status tick: longest run %.2f ms, longest late start %.2f ms\n", longestTick / 1000.0,
                std::max<qint64>(0, longestLate) / 1000.0);
    ::close(toChild[1]);
    ::waitpid(child, nullptr, 0);
    std::printf("  relay's peak buffered bytes %zu (bound %zu)\n", core.smtpRelay()->peakBufferedBytes(),
                static_cast<std::size_t>(many) * 2 * sharing::RelayLimits{}.bufferBytes);

    // Idle: connected both ways, nothing moving.
    for (bool spliced : {true, false}) {
        Fd target;
        std::uint16_t targetPort = 0;
        target = listenLoopback(targetPort);
        sharing::RelayLimits limits;
        limits.maxConnections = 2000;
        limits.splice = spliced;
        sharing::SmtpRelay relay(limits);
        relay.start("127.0.0.1", 0, "127.0.0.1", targetPort);
        const int idle = 1000;
        std::vector<Fd> clients, accepted;
        const long before = rssKiB();
        for (int i = 0; i < idle; ++i)
            clients.push_back(connectLoopback(relay.port(), true));
        QElapsedTimer w;
        w.start();
        while (accepted.size() < static_cast<std::size_t>(idle) && w.elapsed() < 10000) {
            Fd a = acceptOne(target);
            if (a)
                accepted.push_back(std::move(a));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (relay.connections() < static_cast<std::size_t>(idle) && w.elapsed() < 10000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const long after = rssKiB();
        std::printf("bench_relay: %zu idle relayed connections (%s): %.2f KiB of process memory each, "
                    "%d descriptors each in the relay\n",
                    relay.connections(), spliced ? "splice" : "copy",
                    static_cast<double>(after - before) / idle, spliced ? 6 : 2);
    }
    return 0;
}
