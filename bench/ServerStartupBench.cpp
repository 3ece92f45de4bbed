// Time from starting the server process to its first accepted TCP connection,
// headless, on a fresh base dir. Median of several runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<double> times;
    for (int run = 0; run < 7; ++run) {
        QTemporaryDir dir;
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        QDir().mkpath(dir.path() + QStringLiteral("/config"));
        std::ofstream(dir.filePath(QStringLiteral("config/config.ini")).toStdString()) << "[server]\nport=" << port << "\n";

        QProcess server;
        QElapsedTimer t;
        t.start();
        server.start(QStringLiteral(VELORA_SERVER_BINARY),
                     {QStringLiteral("--headless"), QStringLiteral("--no-shutdown"), QStringLiteral("--basedir"), dir.path()});
        double ms = -1;
        while (t.elapsed() < 5000) {
            QTcpSocket s;
            s.connectToHost(QStringLiteral("127.0.0.1"), port);
            if (s.waitForConnected(20)) {
                ms = t.nsecsElapsed() / 1e6;
                break;
            }
            QThread::usleep(500);
        }
        server.terminate();
        server.waitForFinished(3000);
        if (ms >= 0)
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    if (times.empty()) {
        std::printf("server start-up: never listened\n");
        return 0;
    }
    std::printf("server start-up to listening (headless): median %.1f ms, min %.1f ms, max %.1f ms over %zu runs\n",
                times[times.size() / 2], times.front(), times.back(), times.size());
    return 0;
}
