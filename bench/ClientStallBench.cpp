// How long the window's event loop stalls while push lines arrive in bursts.
// It only reports: the figure depends on how busy the machine is.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include "support/ScriptedPrompter.h"
#include "support/FakeServer.h"
#include "client/core/SavedLogin.h"
#include "client/ui/TFmain.h"

using namespace velora;
using namespace velora::client::core;
using namespace velora::client::ui;
using namespace velora::test;

namespace {

// A real event loop for ms milliseconds or until done() holds (QTest's waits
// sleep in steps, which the probe would count as stalls).
template <typename Done>
void spin(int ms, Done done)
{
    QEventLoop loop;
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    stop.start(ms);
    check.start(1);
    loop.exec();
}

#ifdef VELORA_BENCH
constexpr int Bursts = 100;
constexpr int LinesPerBurst = 500;
#else
constexpr int Bursts = 20;
constexpr int LinesPerBurst = 200;
#endif
constexpr int BurstGapMs = 20;

std::string burst(int n, int seed)
{
    wire::StatusRecord r;
    r.activeEntry = "Office";
    r.lockStatus = "free";
    r.speedValue = "115200";
    r.activeDevice = "modem0";
    for (int i = 0; i < 12; ++i) {
        r.entryNames.push_back("Provider " + std::to_string(i));
        r.clientNames.push_back("pc" + std::to_string(i));
        r.clientLocks.push_back(i % 3 ? "free" : "locking");
        r.clientAddresses.push_back("192.168.1." + std::to_string(10 + i));
    }
    r.ownLock = "free";
    std::string out;
    for (int i = 0; i < n; ++i) {
        r.statusText = (i % 2) ? "Connected" : "Authenticating user";
        r.secondsOnline = std::to_string(seed * n + i);
        const std::string mail = wire::buildMessageRecord({"192.168.1.99", "pc99", {"hello", std::to_string(i)}});
        out += wire::terminated(wire::buildPushLine(wire::buildStatusRecord(r), mail,
                                                    wire::buildTrafficPart(1000u * i, 500u * i)));
    }
    return out;
}

}  // namespace

class ClientStall : public QObject {
    Q_OBJECT
private slots:
    void burstsDoNotStallTheWindow()
    {
        QTemporaryDir dir;
        QThread serverThread;
        auto *server = new FakeServer;
        server->moveToThread(&serverThread);
        serverThread.start();
        bool listening = false;
        QMetaObject::invokeMethod(server, [&] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
        QVERIFY(listening);

        ClientSettings settings(dir.path(), dir.path() + QStringLiteral("/a.desktop"));
        SavedLogin login(settings.savedLoginFile());
        login.remember("alice", "secret");
        QVERIFY(login.save());
        settings.setValue(ClientSettings::ServerAddress, "127.0.0.1");
        settings.setValue(ClientSettings::ServerPort, std::to_string(server->port()));
        settings.setValue(ClientSettings::Encrypted, "0");
        ClientSession session(settings);
        ScriptedPrompter prompter;
        TFmain window(settings, session, prompter);
        window.show();
        QVERIFY(session.activatecfg());
        QSignalSpy status(&session, &ClientSession::statusReceived);
        session.executeconnect(1);
        QVERIFY(status.wait(3000));

        int messages = 0;
        connect(&session, &ClientSession::messagesReceived, this,
                [&](const std::vector<wire::MessageRecord> &m) { messages += static_cast<int>(m.size()); });

        // The probe: a 1 ms timer; the longest gap between its runs is the stall.
        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        std::vector<qint64> gaps;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        connect(&probe, &QTimer::timeout, this, [&] {
            const qint64 now = clock.nsecsElapsed();
            gaps.push_back(now - last);
            last = now;
        });
        auto summary = [&gaps](double &worstMs, double &p99Ms) {
            std::sort(gaps.begin(), gaps.end());
            worstMs = gaps.empty() ? 0 : static_cast<double>(gaps.back()) / 1e6;
            p99Ms = gaps.empty() ? 0 : static_cast<double>(gaps[gaps.size() * 99 / 100]) / 1e6;
            gaps.clear();
        };

        // The same probe on an idle loop: the machine's own noise.
        probe.start();
        last = clock.nsecsElapsed();
        spin(300, [] { return false; });
        probe.stop();
        double idleWorst = 0, idleP99 = 0;
        summary(idleWorst, idleP99);

        std::vector<QByteArray> payloads;
        for (int b = 0; b < Bursts; ++b)
            payloads.push_back(QByteArray::fromStdString(burst(LinesPerBurst, b)));
        qsizetype bytes = 0;
        for (const auto &p : payloads)
            bytes += p.size();

        probe.start();
        last = clock.nsecsElapsed();
        const qint64 start = last;
        for (int b = 0; b < Bursts; ++b) {
            const QByteArray p = payloads[b];
            QMetaObject::invokeMethod(server, [server, p] { server->pushRaw(p); });
            spin(BurstGapMs, [] { return false; });
        }
        spin(30000, [&] { return messages == Bursts * LinesPerBurst; });
        QCOMPARE(messages, Bursts * LinesPerBurst);
        const double seconds = static_cast<double>(clock.nsecsElapsed() - start) / 1e9;
        probe.stop();

        double worstMs = 0, p99Ms = 0;
        summary(worstMs, p99Ms);
        std::printf("stall: %d bursts x %d push lines (%.1f MB) every %d ms, all handed on after %.2f s; "
                    "longest event-loop stall %.2f ms (99th percentile %.2f ms); idle loop on this "
                    "machine: longest %.2f ms (99th percentile %.2f ms); window shows \"%s\"\n",
                    Bursts, LinesPerBurst, static_cast<double>(bytes) / 1e6, BurstGapMs, seconds, worstMs,
                    p99Ms, idleWorst, idleP99, qPrintable(window.Label1->text()));
        std::fflush(stdout);

        session.executedisconnect(0);
        QMetaObject::invokeMethod(server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        serverThread.quit();
        serverThread.wait();
#ifndef VELORA_BENCH
        // A blocking read on this thread would stall for 100 ms or more.
        QVERIFY2(worstMs < 100.0, qPrintable(QStringLiteral("stall %1 ms").arg(worstMs)));
#endif
    }
};

QTEST_MAIN(ClientStall)
#include "ClientStallBench.moc"
