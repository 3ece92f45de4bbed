// velora-client --status / --dial / --hangup as a process against the fake server.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/FakeServer.h"
#include "support/Wait.h"
#include "client/core/CommandLine.h"
#include "client/core/SavedLogin.h"

using namespace velora::client::core;
using velora::test::waitFor;

class CommandLineTest : public QObject {
    Q_OBJECT

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };
    // Runs the program while this process's event loop serves the fake server.
    Run run(const QStringList &args, const QString &passwordVariable = {})
    {
        QProcess p;
        if (!passwordVariable.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("VELORA_PASSWORD"), passwordVariable);
            p.setProcessEnvironment(env);
        }
        p.start(QStringLiteral(VELORA_CLIENT_BIN), args);
        if (!p.waitForStarted(5000))
            return {};
        waitFor([&p] { return p.state() == QProcess::NotRunning; }, 20000);
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
            return {};
        }
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QStringList to(FakeServer &s, QStringList extra)
    {
        return QStringList{QStringLiteral("--clientdir"), dir_.path(), QStringLiteral("--host"),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QString::number(s.port())} +
               extra;
    }
    QTemporaryDir dir_;

private slots:
    void parsesArguments()
    {
        const auto o = parseCommandLine({QStringLiteral("x"), QStringLiteral("--dial"), QStringLiteral("Caf\u00e9"),
                                         QStringLiteral("--user"), QStringLiteral("bob"),
                                         QStringLiteral("--password"), QStringLiteral("pw")});
        QVERIFY(o.error.isEmpty());
        QCOMPARE(o.action, CommandLineOptions::Action::Dial);
        QCOMPARE(o.entry, std::string("Caf\xE9"));
        QCOMPARE(*o.user, std::string("bob"));
        QVERIFY(!parseCommandLine({QStringLiteral("x"), QStringLiteral("--status"), QStringLiteral("--hangup")})
                     .error.isEmpty());
        QVERIFY(!parseCommandLine({QStringLiteral("x"), QStringLiteral("--dial")}).error.isEmpty());
        QCOMPARE(parseCommandLine({QStringLiteral("x")}).action, CommandLineOptions::Action::Window);
    }

    void statusWithSavedLogin()
    {
        FakeServer s;
        QVERIFY(s.listen());
        SavedLogin saved(dir_.path() + QStringLiteral("/config/user.cfg"));
        saved.remember("alice", "secret");
        QVERIFY(saved.save());
        const Run r = run(to(s, {QStringLiteral("--status")}));
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Status        : READY")), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("Entries       : Office, Home, Backup")));
    }

    void dialAndHangup()
    {
        FakeServer s;
        QVERIFY(s.listen());
        const QStringList login{QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"),
                                QStringLiteral("secret")};
        Run r = run(to(s, login + QStringList{QStringLiteral("--dial"), QStringLiteral("Home")}));
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Dialing\n")), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("Status        : Connected")));
        QVERIFY(r.out.contains(QStringLiteral("Connected via : Home")));

        r = run(to(s, login + QStringList{QStringLiteral("--hangup")}));
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Status        : READY")), qPrintable(r.out));
        QCOMPARE(s.count("hangup\xE0" + velora::wire::at(velora::wire::parseCommandLine(s.loginLines.at(1)), 1) +
                         "\xE0"),
                 1);
    }

    void refusalsExitOne()
    {
        FakeServer s;
        QVERIFY(s.listen());
        Run r = run(to(s, {QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"),
                           QStringLiteral("nope"), QStringLiteral("--status")}));
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains(QStringLiteral("wrong username/password")));

        s.dialHangup = "0";
        r = run(to(s, {QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"),
                       QStringLiteral("secret"), QStringLiteral("--dial"), QStringLiteral("Home")}));
        QCOMPARE(r.code, 1);
        QCOMPARE(s.count("dial\xE0Home\xE0"), 0);
        QVERIFY(r.err.contains(QStringLiteral("may not dial")));

        s.dialHangup = "1";
        r = run(to(s, {QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"),
                       QStringLiteral("secret"), QStringLiteral("--dial"), QStringLiteral("Nowhere")}));
        QCOMPARE(r.code, 1);
    }

    void aPasswordOnTheCommandLineIsWarnedAbout()
    {
        FakeServer s;
        QVERIFY(s.listen());
        const QString warning = QStringLiteral("velora-client: warning: --password can be read by every user of this "
                                               "computer (in the process list); give it in VELORA_PASSWORD or use the "
                                               "saved login instead\n");
        Run r = run(to(s, {QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"),
                           QStringLiteral("secret"), QStringLiteral("--status")}));
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.startsWith(warning), qPrintable(r.err));
        r = run(to(s, {QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--status")}),
                QStringLiteral("secret"));
        QCOMPARE(r.code, 0);
        QVERIFY2(!r.err.contains(QStringLiteral("warning")), qPrintable(r.err));
    }

    void unreachableExitsTwo()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(closed.serverPort());
        closed.close();
        Run r = run({QStringLiteral("--clientdir"), dir_.path(), QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--port"), port, QStringLiteral("--status")});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("cannot reach")));

        // Nothing configured and no --host: says so and ends at once.
        QTemporaryDir empty;
        r = run({QStringLiteral("--clientdir"), empty.path(), QStringLiteral("--status")});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("no server address")));

        // Accepts but never answers the login.
        FakeServer mute;
        mute.silent = true;
        QVERIFY(mute.listen());
        r = run(to(mute, {QStringLiteral("--status")}));
        QCOMPARE(r.code, 2);
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
