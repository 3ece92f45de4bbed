// The event loop's longest stall while the server dials the simulated line
// with 100 logged-in clients: a 1 ms timer records how late it fires.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <sys/wait.h>

#include "bench/RawClients.h"
#include "server/frame/ServerCore.h"
#include "support/FakeServerPlatform.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::test;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int clients = 100;
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    std::filesystem::create_directories(base + "/config");
    // Every client logs in at once: no cap on those waiting to.
    std::ofstream(base + "/config/config.ini") << "[server]\nport=0\nmaxpending=100000\nmaxperuser=100000\n";
    std::ofstream(base + "/config/phonebook.ini") << "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=100\n";
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
        bench::runClients(clients, core.listeningPort(), control[0]);
    }
    ::close(control[0]);
    while (core.clients().clientList().size() < clients + 1 && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    // Lateness of a 1 ms timer through the whole dial and a few seconds online.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double worst = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, (now - last) / 1e6 - 1.0);
        last = now;
    });
    probe.start();
    core.dialup().executedial("Metro", "Local");
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < 4000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("dial with %zu logged-in clients: status \"%s\", longest event-loop stall %.2f ms\n",
                core.clients().clientList().size() - 1, core.state().StatusText.c_str(), worst);
    ::close(control[1]);
    ::waitpid(child, nullptr, 0);
    return 0;
}
