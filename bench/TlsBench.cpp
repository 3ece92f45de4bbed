// Encrypted sessions against plain ones in one run: the TLS handshake on
// loopback, a status tick with a change (every client gets a push line) and
// the memory of an idle session. The clients are bench/tls_clients.py in a
// child process, so the tick and memory figures are the server's alone.
// Usage: bench_tls [N] (default 1000).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include "bench/Process.h"
#include "common/CredentialCipher.h"
#include "common/WireCodec.h"
#include "server/clientservice/ClientService.h"
#include "server/frame/TlsIdentity.h"
#include "server/users/UserStore.h"
#include "support/RecordingShutdown.h"

using namespace velora;
using namespace velora::server::clientservice;

using velora::bench::pump;
using velora::bench::rssKiB;

namespace {

double threadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The tick, then the loop until every push line has left for the kernel.
// The wall time also holds the clients' share of two cores; cpu, if given,
// gets the server's own.
double tickAndFlush(ClientService &service, double *cpu = nullptr)
{
    QElapsedTimer t;
    t.start();
    const double cpuStart = threadCpuMs();
    service.runTickSteps();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::size_t queued = 0;
        for (const Session *s : service.transport().sessions())
            queued += s->queuedBytes();
        if (queued == 0 || t.elapsed() > 10000)
            break;
    }
    if (cpu)
        *cpu = threadCpuMs() - cpuStart;
    return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    rlimit lim{};
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &lim);
    const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::string dir = "/tmp/velora-bench-tls-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string usersPath = dir + "/user.cfg";
    std::ofstream(usersPath, std::ios::binary)
        << wire::join({"bench", "", Encrypt("bench"), "0", "1", "1", "1"}, wire::ListSep) << "\r\n";
    server::frame::TlsIdentity identity(dir + "/tls");
    std::string why;
    if (!identity.loadOrMake(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const std::string script = std::string(VELORA_BENCH_DIR) + "/tls_clients.py";

    for (const bool tls : {false, true}) {
        server::state::ServerState state;
        state.ActiveEntry = state.ActiveDevice = "--";
        state.SpeedValue = "0";
        server::users::UserStore users(usersPath);
        users.updateuserlist();
        test::RecordingShutdown shutdown;
        ClientService service(state, users, shutdown, [] { return 0; });
        service.setStrangerLimits({30, 100000, 100000, 100000});
        service.addOwnRecord("Admin@bench", "192.0.2.1");
        const bool listening = tls ? service.transport().listenTls(QHostAddress::LocalHost, 0,
                                                                   identity.serverContext(&why), &why)
                                   : service.transport().listen(QHostAddress::LocalHost, 0, &why);
        if (!listening) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        const quint16 port = tls ? service.transport().tlsPort() : service.transport().port();
        pump(50);
        const long rssBefore = rssKiB();
        const std::size_t heapBefore = ::mallinfo2().uordblks;
        QProcess clients;
        clients.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        clients.start(QStringLiteral("/usr/bin/python3"),
                      {QString::fromStdString(script), QString::number(n), QString::number(port),
                       tls ? QStringLiteral("tls") : QStringLiteral("plain"),
                       QString::fromStdString(Encrypt("bench"))});
        QElapsedTimer wait;
        wait.start();
        while (service.clientList().size() < static_cast<std::size_t>(n) + 1 && wait.elapsed() < 300000 &&
               clients.state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (clients.state() == QProcess::NotRunning) {
            std::fprintf(stderr, "the clients ended early\n");
            return 1;
        }
        while (!clients.canReadLine() && wait.elapsed() < 300000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const std::string said = clients.readLine().trimmed().toStdString();
        service.runTickSteps();
        pump(300);
        for (int i = 0; i < 3; ++i) {
            tickAndFlush(service);
            pump(100);
        }
        const long rssIdle = rssKiB();
        const std::size_t heapIdle = ::mallinfo2().uordblks;
        std::vector<double> ms;
        std::vector<double> cpu;
        for (int i = 0; i < 20; ++i) {
            state.StatusText = (i % 2) ? "Dialing..." : "READY";
            cpu.push_back(0);
            ms.push_back(tickAndFlush(service, &cpu.back()));
            pump(200);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpu.begin(), cpu.end());
        std::printf("%s, N=%d (%zu logged in): tick with a change, sent %.2f ms median, %.2f ms max, "
                    "server cpu %.2f ms median; idle session %.1f KiB each (%.1f KiB in use)%s%s\n",
                    tls ? "TLS  " : "plain", n, service.clientList().size() - 1, ms[ms.size() / 2], ms.back(),
                    cpu[cpu.size() / 2],
                    (rssIdle - rssBefore) / static_cast<double>(n),
                    (static_cast<double>(heapIdle) - static_cast<double>(heapBefore)) / 1024.0 / n, tls ? "; " : "", tls ? said.c_str() : "");
        clients.closeWriteChannel();
        clients.waitForFinished(10000);
        service.goOffline();
        pump(100);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
