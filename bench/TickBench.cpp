// Cost of one status tick with N logged-in clients when the status changes on
// every tick (every client gets a push line), and the memory of an idle
// session. The clients run in a child process on raw sockets, so the figures
// are the server's alone.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/Process.h"
#include "common/CredentialCipher.h"
#include "common/WireCodec.h"
#include "server/clientservice/ClientService.h"
#include "support/RecordingShutdown.h"
#include "server/users/UserStore.h"
#include "bench/RawClients.h"

using namespace velora;
using namespace velora::server::clientservice;
using namespace velora::server::users;
using namespace velora::test;
using namespace velora::server::state;

using velora::bench::pump;
using velora::bench::rssKiB;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    rlimit lim{};
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &lim);

    std::vector<int> sizes = {100, 1000, 10000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i)
            sizes.push_back(std::atoi(argv[i]));
    }
    const std::string usersPath = "/tmp/velora-bench-tick-users.cfg";
    std::ofstream(usersPath, std::ios::binary)
        << wire::join({"bench", "", Encrypt("bench"), "0", "1", "1", "1"}, wire::ListSep) << "\r\n";

    for (const int n : sizes) {
        if (static_cast<rlim_t>(n) + 64 > lim.rlim_cur) {
            std::printf("N=%d: skipped, open-file limit %llu\n", n, static_cast<unsigned long long>(lim.rlim_cur));
            continue;
        }
        ServerState state;
        state.ActiveEntry = state.ActiveDevice = "--";
        state.SpeedValue = "0";
        UserStore users(usersPath);
        users.updateuserlist();
        RecordingShutdown shutdown;
        ClientService service(state, users, shutdown, [] { return 0; });
        // Every client logs in at once: no cap on those waiting to.
        service.setStrangerLimits({30, 100000, 16, 0});
        service.addOwnRecord("Admin@bench", "192.0.2.1");
        SessionListener listener;
        listener.setMaxPendingConnections(n + 16);
        listener.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&listener, &QTcpServer::newConnection, [&] {
            while (listener.hasPendingConnections())
                service.accept(listener.nextPendingConnection());
        });
        pump(50);
        const long rssBefore = rssKiB();

        int control[2];
        if (::pipe(control) != 0)
            return 1;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(control[1]);
            bench::runClients(n, listener.serverPort(), control[0]);
        }
        ::close(control[0]);
        QElapsedTimer wait;
        wait.start();
        while (service.clientList().size() < static_cast<std::size_t>(n) + 1 && wait.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (service.clientList().size() < static_cast<std::size_t>(n) + 1) {
            std::printf("N=%d: only %zu clients logged in\n", n, service.clientList().size() - 1);
        }
        // Idle sessions: the login replies are out, nothing queued.
        service.runTickSteps();
        pump(300);
        for (int i = 0; i < 3; ++i) {
            service.runTickSteps();
            pump(100);
        }
        const long rssIdle = rssKiB();

        std::vector<double> ms;
        std::size_t lineBytes = 0;
        const int ticks = n >= 10000 ? 5 : 20;
        for (int i = 0; i < ticks; ++i) {
            state.StatusText = (i % 2) ? "Dialing..." : "READY";  // a change every tick
            QElapsedTimer t;
            t.start();
            service.runTickSteps();
            ms.push_back(t.nsecsElapsed() / 1e6);
            lineBytes = service.statusRecordText().size();
            // Between ticks the loop sends what was queued, as it would in 500 ms.
            pump(n >= 10000 ? 2000 : 200);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("N=%5d: tick with a change %.2f ms median, %.2f ms max (status record %zu bytes, %zu sessions left); "
                    "idle session %.1f KiB each\n",
                    n, ms[ms.size() / 2], ms.back(), lineBytes, service.clientList().size() - 1,
                    (rssIdle - rssBefore) / static_cast<double>(n));
        ::close(control[1]);
        ::waitpid(child, nullptr, 0);
        service.goOffline();
        pump(100);
    }
    std::remove(usersPath.c_str());
    return 0;
}
