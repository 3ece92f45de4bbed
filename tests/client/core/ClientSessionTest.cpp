// The session against a fake server on loopback: login, push lines, the
// backlog, lost connections, sleep and resume.

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/FakeServer.h"
#include "support/Wait.h"
#include "client/core/ClientSession.h"
#include "client/core/SavedLogin.h"
#include "common/CredentialCipher.h"

using namespace velora;
using namespace velora::client::core;
using velora::test::waitFor;

namespace {
const std::string Trm = "trm\xE0";
const std::string Stat = "stat\xE0";
}  // namespace

class ClientSessionTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<FakeServer> server_;
    std::unique_ptr<ClientSettings> settings_;
    std::unique_ptr<ClientSession> session_;

    void remember(const std::string &user, const std::string &password)
    {
        SavedLogin s(settings_->savedLoginFile());
        s.remember(user, password);
        QVERIFY(s.save());
    }
    bool logIn()
    {
        QSignalSpy accepted(session_.get(), &ClientSession::loginAccepted);
        session_->executeconnect(1);
        return accepted.wait(3000) || accepted.count() == 1;
    }

private slots:
    void init()
    {
        server_ = std::make_unique<FakeServer>();
        QVERIFY(server_->listen());
        QFile::remove(dir_.path() + QStringLiteral("/config/user.cfg"));
        settings_ = std::make_unique<ClientSettings>(dir_.path(), dir_.path() + QStringLiteral("/a.desktop"));
        settings_->setValue(ClientSettings::ServerAddress, "127.0.0.1");
        settings_->setValue(ClientSettings::ServerPort, std::to_string(server_->port()));
        settings_->setValue(ClientSettings::Encrypted, "0");
        session_ = std::make_unique<ClientSession>(*settings_);
        QVERIFY(session_->activatecfg());
        remember("alice", "secret");
    }
    void cleanup()
    {
        session_.reset();
        server_.reset();
    }

    void loginLineStatAndTrm()
    {
        session_->setTypedLogin("typed", "ignored");  // the remembered login wins
        QSignalSpy status(session_.get(), &ClientSession::statusReceived);
        QVERIFY(logIn());
        QVERIFY(status.wait(2000));
        QCOMPARE(session_->state(), ClientSession::State::InSession);

        QCOMPARE(server_->loginLines.size(), 1u);
        const auto f = wire::parseCommandLine(server_->loginLines[0]);
        QCOMPARE(f.size(), 5u);
        QCOMPARE(wire::at(f, 1), session_->localHostName());
        QCOMPARE(wire::at(f, 2), std::string("127.0.0.1"));
        QCOMPARE(wire::at(f, 3), std::string("alice"));
        QCOMPARE(wire::at(f, 4), Encrypt("secret"));
        QCOMPARE(server_->received.at(1), Stat);
        QTRY_COMPARE(server_->count(Trm), 1);

        const auto rec = status.takeFirst().at(0).value<wire::StatusRecord>();
        QCOMPARE(rec.statusText, std::string("READY"));
        QCOMPARE(rec.entryNames.size(), 3u);
        QCOMPARE(session_->privileges().serverVersion, std::string("4"));
        QCOMPARE(session_->privileges().dialHangup, std::string("1"));

        QVERIFY(session_->sendDial("Office"));
        QTRY_COMPARE(server_->count("dial\xE0Office\xE0" + session_->localHostName() + "\xE0"), 1);
    }

    void typedLoginIsUsedOnceWhenNothingIsRemembered()
    {
        QFile::remove(settings_->savedLoginFile());
        session_->setTypedLogin(" alice ", "secret ");
        QVERIFY(logIn());
        session_->executedisconnect(0);
        // Nothing left to log in with: no connection, no empty login.
        QSignalSpy needed(session_.get(), &ClientSession::loginNeeded);
        session_->executeconnect(1);
        QCOMPARE(needed.count(), 1);
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QVERIFY(!waitFor([&] { return server_->connections > 1; }, 100));
        QCOMPARE(server_->loginLines.size(), 1u);
    }

    void aLostSessionIsRetriedWithAGrowingPause()
    {
        QVERIFY(logIn());
        QSignalSpy lost(session_.get(), &ClientSession::connectionLost);
        QSignalSpy scheduled(session_.get(), &ClientSession::retryScheduled);
        server_->dropClients();
        QVERIFY(lost.wait(3000));
        QCOMPARE(scheduled.count(), 1);
        QCOMPARE(scheduled.at(0).at(0).toInt(), 2);

        // The server is gone: each failed attempt waits twice as long, up to a minute.
        const quint16 port = server_->port();
        server_.reset();
        std::vector<int> pauses;
        for (int i = 0; i < 7; ++i) {
            QSignalSpy failed(session_.get(), &ClientSession::connectFailed);
            session_->retryTick();
            QVERIFY(failed.wait(3000));
            pauses.push_back(scheduled.last().at(0).toInt());
        }
        QCOMPARE(pauses, (std::vector<int>{4, 8, 16, 32, 60, 60, 60}));

        // Back again: the next attempt logs in, and the pause starts over.
        server_ = std::make_unique<FakeServer>();
        QVERIFY(server_->listen(port));
        QSignalSpy accepted(session_.get(), &ClientSession::loginAccepted);
        session_->retryTick();
        QVERIFY(accepted.wait(3000));
        QVERIFY(!session_->retrying());
        server_->dropClients();
        QTRY_COMPARE(scheduled.last().at(0).toInt(), 2);

        // Disconnecting ends the attempts.
        session_->executedisconnect(0);
        QVERIFY(!session_->retryTimer().isActive());
    }

    void noRetryWhenSwitchedOffOrAfterDisconnecting()
    {
        settings_->setValue(ClientSettings::ReconnectAutomatically, "0");
        QVERIFY(logIn());
        QSignalSpy lost(session_.get(), &ClientSession::connectionLost);
        server_->dropClients();
        QVERIFY(lost.wait(3000));
        QVERIFY(!session_->retryTimer().isActive());

        settings_->setValue(ClientSettings::ReconnectAutomatically, "");  // an older file: on
        QVERIFY(logIn());
        session_->executedisconnect(0);
        QVERIFY(!session_->retryTimer().isActive());
        QCOMPARE(lost.count(), 1);
    }

    void refusedLoginClosesTheConnection()
    {
        remember("alice", "wrong");
        QSignalSpy refused(session_.get(), &ClientSession::loginRefused);
        QSignalSpy reset(session_.get(), &ClientSession::disconnectedState);
        QSignalSpy broken(session_.get(), &ClientSession::handshakeFailed);
        session_->executeconnect(1);
        QVERIFY(refused.wait(2000));
        // Nothing more may follow the refusal.
        QVERIFY(!waitFor([&] { return broken.count() > 0 || reset.count() > 1; }, 100));
        QCOMPARE(broken.count(), 0);
        QCOMPARE(refused.at(0).at(0).value<std::string>(), std::string("wrong username/password"));
        QCOMPARE(reset.count(), 1);
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QCOMPARE(session_->wantConnected(), 0);
        QCOMPARE(session_->privileges().serverVersion, std::string("Not available"));
    }

    void handshakeErrorsCloseSoConnectWorksAgain()
    {
        server_->silent = true;
        session_->setHandshakeTimeout(50);
        QSignalSpy failed(session_.get(), &ClientSession::handshakeFailed);
        session_->executeconnect(1);
        QVERIFY(failed.wait(2000));
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QTRY_COMPARE(server_->openConnections(), 0);

        server_->silent = false;
        server_->rawReply = "HELLO\xE0";
        session_->executeconnect(1);
        QVERIFY(failed.wait(2000));
        QCOMPARE(failed.count(), 2);

        server_->rawReply.clear();
        QVERIFY(logIn());
    }

    void unreadableRememberedLoginSendsNothing()
    {
        QFile f(settings_->savedLoginFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("alice\xE3" "1x2-\xE3\r\n");
        f.close();
        QSignalSpy failed(session_.get(), &ClientSession::loginFailed);
        session_->executeconnect(1);
        QVERIFY(failed.wait(2000));
        QCOMPARE(server_->loginLines.size(), 0u);
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
    }

    void unreachableServer()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        session_->applySettings({"127.0.0.1", port, 1000});
        QSignalSpy failed(session_.get(), &ClientSession::connectFailed);
        session_->executeconnect(1);
        QVERIFY(failed.wait(3000));
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QVERIFY(!session_->sendLock());
    }

    void backlogIsDrainedAndEveryLineAnswered()
    {
        QVERIFY(logIn());
        QSignalSpy status(session_.get(), &ClientSession::statusReceived);
        QSignalSpy messages(session_.get(), &ClientSession::messagesReceived);
        QTRY_COMPARE(status.count(), 1);
        const int trmBefore = server_->count(Trm);

        constexpr int Lines = 600;
        std::string burst;
        for (int i = 0; i < Lines; ++i) {
            wire::StatusRecord r = server_->status;
            r.statusText = "step " + std::to_string(i);
            const std::string mail = wire::buildMessageRecord({"10.0.0.9", "pc9", {"m" + std::to_string(i)}});
            burst += wire::terminated(wire::buildPushLine(wire::buildStatusRecord(r), mail, ""));
            burst += "  \r\n";  // blank lines are skipped, not answered
        }
        server_->pushRaw(QByteArray::fromStdString(burst));

        QTRY_COMPARE(server_->count(Trm) - trmBefore, Lines);
        int delivered = 0;
        for (const auto &call : messages)
            delivered += static_cast<int>(call.at(0).value<std::vector<wire::MessageRecord>>().size());
        QCOMPARE(delivered, Lines);
        const auto last = status.last().at(0).value<wire::StatusRecord>();
        QCOMPARE(last.statusText, "step " + std::to_string(Lines - 1));
        // The first mail came first.
        QCOMPARE(messages.first().at(0).value<std::vector<wire::MessageRecord>>().front().bodyLines.at(0),
                 std::string("m0"));
    }

    void trafficOnlyOnEvenTicks()
    {
        QVERIFY(logIn());
        QTRY_COMPARE(server_->count(Trm), 1);  // the answer to the first status
        QSignalSpy traffic(session_.get(), &ClientSession::trafficReceived);
        QSignalSpy status(session_.get(), &ClientSession::statusReceived);
        while (session_->pollCounter() % 2 == 0)
            session_->pollTick();
        const int trm = server_->count(Trm);
        server_->push(wire::buildPushLine("", "", wire::buildTrafficPart(100, 200)));
        QTRY_COMPARE(server_->count(Trm), trm + 1);
        QCOMPARE(traffic.count(), 0);
        session_->pollTick();
        server_->push(wire::buildPushLine("", "", wire::buildTrafficPart(100, 200)) + "extra\xE0");
        QVERIFY(traffic.wait(2000));
        QCOMPARE(traffic.at(0).at(0).value<std::string>(), std::string("100"));
        QCOMPARE(traffic.at(0).at(1).value<std::string>(), std::string("200"));
        QCOMPARE(status.count(), 0);  // an empty status record changes nothing
        for (int i = 0; i < 30; ++i) {
            session_->pollTick();
            QVERIFY(session_->pollCounter() >= 0 && session_->pollCounter() <= 10);
        }
    }

    void serverDropAndOverlongLine()
    {
        QVERIFY(logIn());
        QSignalSpy reset(session_.get(), &ClientSession::disconnectedState);
        QSignalSpy messages(session_.get(), &ClientSession::messagesReceived);
        // A mail pushed just before the close still arrives.
        server_->push(wire::buildPushLine("", wire::buildMessageRecord({"10.0.0.9", "pc9", {"bye"}}), ""));
        server_->dropClients();
        QVERIFY(reset.wait(2000));
        QCOMPARE(messages.count(), 1);
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);

        QVERIFY(logIn());
        server_->pushRaw(QByteArray(static_cast<int>(ClientSession::MaxPushLineLength) + 10, 'x'));
        QVERIFY(reset.wait(3000));
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
    }

    void sleepAndResume()
    {
        QVERIFY(logIn());
        session_->systemSuspending();
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QCOMPARE(session_->wantConnected(), 1);
        session_->systemResumed();
        QVERIFY(session_->reconnectTimer().isActive());
        QCOMPARE(session_->reconnectTimer().interval(), 5000);
        QSignalSpy accepted(session_.get(), &ClientSession::loginAccepted);
        session_->reconnectTick();
        QVERIFY(accepted.wait(2000));
        QCOMPARE(server_->connections, 2);

        // After the person disconnected, a resume stays away.
        session_->executedisconnect(0);
        session_->systemSuspending();
        session_->systemResumed();
        QVERIFY(!session_->reconnectTimer().isActive());
    }

    void whatThePersonDoesAfterAResumeStands()
    {
        QVERIFY(logIn());
        session_->systemSuspending();
        session_->systemResumed();
        // Connected by hand before the delayed reconnection came due: kept as it is.
        QVERIFY(logIn());
        session_->reconnectTick();
        QVERIFY(!waitFor([&] { return server_->connections > 2; }, 100));
        QCOMPARE(session_->state(), ClientSession::State::InSession);
        QCOMPARE(server_->connections, 2);

        session_->systemSuspending();
        session_->systemResumed();
        // Disconnected by hand meanwhile: the line stays closed.
        QVERIFY(logIn());
        session_->executedisconnect(0);
        session_->reconnectTick();
        QVERIFY(!waitFor([&] { return server_->connections > 3; }, 100));
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QCOMPARE(server_->connections, 3);
    }

    void connectDoesNothingWhileOpen()
    {
        QVERIFY(logIn());
        session_->executeconnect(1);
        QVERIFY(!waitFor([&] { return server_->connections > 1; }, 100));
        QCOMPARE(server_->connections, 1);
    }
};

QTEST_GUILESS_MAIN(ClientSessionTest)
#include "ClientSessionTest.moc"
