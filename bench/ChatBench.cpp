// Chat figures: how long the client window stalls while one push line brings
// 500 messages, and what one more message costs on a full 10,000-line
// history. It only reports: the figures depend on how busy the machine is.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include "client/core/SavedLogin.h"
#include "client/ui/TFmain.h"
#include "support/FakeServer.h"
#include "support/FakeSoundPlayer.h"
#include "support/ScriptedPrompter.h"
#include "widgets/ChatHistory.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"

using namespace velora;
using namespace velora::client::core;
using namespace velora::client::ui;
using namespace velora::test;

namespace {

// A real event loop for ms milliseconds or until done() holds.
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

struct Probe {
    QElapsedTimer clock;
    qint64 last = 0;
    std::vector<qint64> gaps;
    QTimer timer;
    Probe()
    {
        clock.start();
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            gaps.push_back(now - last);
            last = now;
        });
    }
    void start()
    {
        gaps.clear();
        last = clock.nsecsElapsed();
        timer.start();
    }
    // Longest and 99th-percentile gap in ms.
    std::pair<double, double> stop()
    {
        timer.stop();
        std::sort(gaps.begin(), gaps.end());
        if (gaps.empty())
            return {0, 0};
        return {static_cast<double>(gaps.back()) / 1e6, static_cast<double>(gaps[gaps.size() * 99 / 100]) / 1e6};
    }
};

}  // namespace

class ChatBench : public QObject {
    Q_OBJECT
private slots:
    void fiveHundredMessagesInOnePushLine()
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
        QStringList sounds;
        window.messageAlert()->setDesktopNotifications(false);
        window.messageAlert()->setSoundPlayer(std::make_unique<FakeSoundPlayer>(&sounds));
        window.show();
        window.sendWindow()->openWithList();
        QVERIFY(session.activatecfg());
        QSignalSpy status(&session, &ClientSession::statusReceived);
        session.executeconnect(1);
        QVERIFY(status.wait(3000));

        std::string mail;
        for (int i = 0; i < 500; ++i) {
            std::vector<std::string> body{"message number " + std::to_string(i)};
            if (i % 3 == 0)
                body.push_back("and a second line to it");
            mail += wire::buildMessageRecord({"192.168.1.7", "pc7", body});
        }
        const QByteArray line = QByteArray::fromStdString(wire::terminated(wire::buildPushLine({}, mail, {})));
        widgets::TFsend *send = window.sendWindow();

        Probe probe;
        probe.start();
        spin(300, [] { return false; });
        const auto idle = probe.stop();

        for (int round = 0; round < 5; ++round) {
            const int target = send->memo2->lineCount() + 500 + 167;
            probe.start();
            QElapsedTimer took;
            took.start();
            QMetaObject::invokeMethod(server, [server, line] { server->pushRaw(line); });
            spin(10000, [&] { return send->backlog() == 0 && send->memo2->lineCount() >= std::min(target, 10000); });
            const double ms = static_cast<double>(took.nsecsElapsed()) / 1e6;
            spin(50, [] { return false; });
            const auto busy = probe.stop();
            std::printf("chat: 500 messages in one push line (%lld bytes), round %d: shown after %.1f ms, "
                        "longest event-loop stall %.2f ms (99th percentile %.2f ms); history %d lines; "
                        "sounds so far %lld\n",
                        static_cast<long long>(line.size()), round + 1, ms, busy.first, busy.second,
                        send->memo2->lineCount(), static_cast<long long>(sounds.size()));
        }
        std::printf("chat: idle loop on this machine: longest %.2f ms (99th percentile %.2f ms)\n", idle.first,
                    idle.second);
        std::fflush(stdout);

        session.executedisconnect(0);
        QMetaObject::invokeMethod(server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        serverThread.quit();
        serverThread.wait();
    }

    void appendingToAFullHistory()
    {
        ScriptedPrompter prompter;
        widgets::TFsend w(widgets::TFsend::Client, prompter, [] { return widgets::TFsend::Identity{"me", "10.0.0.9"}; },
                          {});
        w.openWithList();
        for (int i = 0; i < widgets::ChatHistory::MaxLines; ++i)
            w.memo2->addLine(QStringLiteral("an older line of the conversation, number %1").arg(i));
        QCoreApplication::processEvents();

        constexpr int N = 1000;
        std::vector<double> each, withPaint;
        QElapsedTimer t;
        for (int i = 0; i < N; ++i) {
            const std::vector<wire::MessageRecord> one{{"10.0.0.5", "alice", {"reply " + std::to_string(i)}}};
            t.start();
            w.bacapesan(one, "10.0.0.9");
            w.flushBacklog();
            each.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
            QCoreApplication::processEvents();
            withPaint.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        auto report = [](const char *what, std::vector<double> v) {
            std::sort(v.begin(), v.end());
            double sum = 0;
            for (double x : v)
                sum += x;
            std::printf("chat: one message on a full %d-line history, %s: mean %.3f ms, 99th percentile %.3f ms, "
                        "longest %.3f ms\n",
                        widgets::ChatHistory::MaxLines, what, sum / static_cast<double>(v.size()),
                        v[v.size() * 99 / 100], v.back());
        };
        report("append", each);
        report("append and repaint", withPaint);
        std::printf("chat: history still %d lines, first \"%s\"\n", w.memo2->lineCount(),
                    qPrintable(w.memo2->lineText(0)));
        std::fflush(stdout);
    }
};

QTEST_MAIN(ChatBench)
#include "ChatBench.moc"
