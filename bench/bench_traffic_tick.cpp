// The status tick while the simulated line is up and 50 clients have their
// meter open: every tick pushes a line with the traffic part to each. Prints
// the longest and the median tick. The clients run in a child process.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "bench/RawClients.h"
#include "server/frame/ServerCore.h"
#include "support/FakeServerPlatform.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::test;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int clients = argc > 1 ? std::atoi(argv[1]) : 50;
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    std::filesystem::create_directories(base + "/config");
    std::ofstream(base + "/config/config.ini") << "[server]\nport=0\nmaxperuser=100000\n";
    std::ofstream(base + "/config/phonebook.ini") << "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\n";
    std::ofstream(base + "/config/user.cfg", std::ios::binary)
        << wire::join({"bench", "", Encrypt("bench"), "0", "1", "1", "1"}, wire::ListSep) << "\r\n";

    ServerOptions options;
    options.baseDir = base;
    options.listenAddress = "127.0.0.1";
    options.secondStageDelayMs = 0;
    ServerCore core(options, fakePlatform(base));
    core.start();
    QElapsedTimer wait;
    wait.start();
    while (!core.isOnline() && wait.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    int control[2];
    if (::pipe(control) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(control[1]);
        bench::runClients(clients, core.listeningPort(), control[0], "bench", "bench",
                          wire::terminated(wire::buildCommandLine("bandwidth", {"active"})));
    }
    ::close(control[0]);
    while (core.clients().clientList().size() < static_cast<std::size_t>(clients) + 1 && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::size_t subscribed = 0;
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    for (const auto *r : core.clients().clientList())
        subscribed += r->MeterWanted;

    core.dialup().executedial("Metro", "bench");
    while (core.state().StatusText != "Connected" && wait.elapsed() < 30000) {
        core.Timer1Timer();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // The ticks as the timer runs them, with the event loop between.
    std::vector<double> ms;
    for (int tick = 0; tick < 120; ++tick) {
        QElapsedTimer t;
        t.start();
        core.Timer1Timer();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < 20)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ::close(control[1]);
    ::waitpid(child, nullptr, 0);
    std::sort(ms.begin(), ms.end());
    std::printf("status tick, %zu of %d clients subscribed, line %s, traffic \"%s\" (target: longest < 5 ms):\n",
                subscribed, clients, core.state().StatusText.c_str(),
                QByteArray::fromStdString(core.sampler().BandwidthText()).replace('\xE2', '|').constData());
    std::printf("  median %.3f ms  p90 %.3f ms  longest %.3f ms over %zu ticks\n", ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back(), ms.size());
    return 0;
}
