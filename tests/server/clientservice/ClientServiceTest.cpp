#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/Wait.h"
#include "common/CredentialCipher.h"
#include "common/LineFramer.h"
#include "common/WireCodec.h"
#include "server/clientservice/ClientService.h"
#include "server/state/DialControl.h"
#include "server/state/DialledSide.h"
#include "support/RecordingShutdown.h"
#include "server/users/UserStore.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::clientservice;
using namespace velora::server::users;
using namespace velora::test;
using namespace velora::server::state;

using velora::test::waitFor;

namespace {

struct RecordingDial : DialControl {
    std::vector<std::string> calls;
    void setDialEntry(const std::string &e) override { calls.push_back("entry " + e); }
    void executedial(const std::string &e, const std::string &d) override { calls.push_back("dial " + e + " " + d); }
    void executehangup() override { calls.push_back("hangup"); }
};

// A client at the far end of a real loopback connection.
struct Peer {
    QTcpSocket socket;
    LineFramer framer{1 << 20};
    std::vector<std::string> lines;
    std::uint64_t sent = 0;
    std::uint64_t received = 0;

    void send(const std::string &line) { write(line + "\r\n"); }
    void write(const std::string &bytes)
    {
        socket.write(QByteArray::fromStdString(bytes));
        socket.flush();
        sent += bytes.size();
    }
    void read()
    {
        const QByteArray b = socket.readAll();
        received += static_cast<std::uint64_t>(b.size());
        framer.feed(std::string_view(b.constData(), static_cast<std::size_t>(b.size())), lines);
    }
    // The next line, or "" after the time-out.
    std::string next(int ms = 2000)
    {
        waitFor([&] { read(); return !lines.empty(); }, ms);
        if (lines.empty())
            return {};
        std::string l = lines.front();
        lines.erase(lines.begin());
        return l;
    }
};

struct ServiceFixture : ::testing::Test {
    test::TempDir dir;
    ServerState state;
    UserStore users{dir.file("user.cfg")};
    RecordingShutdown shutdown;
    int shutdownMode = 0;
    ClientService service{state, users, shutdown, [this] { return shutdownMode; }};
    RecordingDial dial;
    SessionListener listener;
    std::vector<std::unique_ptr<Peer>> peers;

    void SetUp() override
    {
        const std::string sep = "\xE3";
        test::writeFile(dir.file("user.cfg"),
                        "ann" + sep + "Front desk" + sep + Encrypt("pw") + sep + "0" + sep + "1" + sep + "1" + sep + "0" + sep + "\r\n" +
                        "off" + sep + "gone" + sep + Encrypt("pw") + sep + "1" + sep + "0" + sep + "0" + sep + "0" + sep + "\r\n" +
                        "all" + sep + "Boss" + sep + Encrypt("pw") + sep + "0" + sep + "1" + sep + "1" + sep + "1" + sep + "\r\n" +
                        "none" + sep + "Guest" + sep + Encrypt("pw") + sep + "0" + sep + "0" + sep + "0" + sep + "0" + sep + "\r\n");
        ASSERT_TRUE(users.updateuserlist());
        state.ActiveEntry = "--";
        state.ActiveDevice = "--";
        state.SpeedValue = "0";
        service.setDialControl(&dial);
        ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&listener, &QTcpServer::newConnection, [this] {
            while (listener.hasPendingConnections())
                service.accept(listener.nextPendingConnection());
        });
        service.addOwnRecord("Admin@srv", "192.0.2.1");
    }

    Peer &connect()
    {
        peers.push_back(std::make_unique<Peer>());
        Peer &p = *peers.back();
        const std::size_t before = service.sessionCount();
        p.socket.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        EXPECT_TRUE(p.socket.waitForConnected(2000));
        // Small command lines back to back must not wait for delayed ACKs.
        p.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        EXPECT_TRUE(waitFor([&] { return service.sessionCount() > before; }));
        return p;
    }
    Peer &login(const std::string &host, const std::string &address, const std::string &user = "ann")
    {
        Peer &p = connect();
        const std::size_t before = service.clientList().size();
        p.send(wire::buildCommandLine("connect", {host, address, user, Encrypt("pw")}));
        EXPECT_EQ(wire::parseLoginReply(p.next()).kind, wire::LoginReply::Kind::Accepted);
        EXPECT_TRUE(waitFor([&] { return service.clientList().size() > before; }));
        return p;
    }
    // Nothing in flight: every session still reading has taken in all of its
    // peer's bytes, and every peer has what its session was given for it.
    void settle()
    {
        waitFor([this] {
            for (const auto &p : peers) {
                const Session *s = sessionOf(*p);
                if (!s || s->isClosing())
                    continue;
                p->read();
                if ((!s->isPaused() && s->bytesTaken() < p->sent) || p->received < s->bytesGiven())
                    return false;
            }
            return true;
        });
    }
    const Session *sessionOf(const Peer &p) const
    {
        for (const Session *s : service.transport().sessions())
            if (s->socket()->peerPort() == p.socket.localPort())
                return s;
        return nullptr;
    }
};

}  // namespace

TEST_F(ServiceFixture, LoginRepliesAndTheClientList)
{
    Peer &a = connect();
    a.send(wire::buildCommandLine("connect", {"pc1", "10.0.0.1", "ann", Encrypt("pw")}));
    EXPECT_EQ(a.next(), "OK\xE0" "Front desk\xE0" "0\xE0" "1\xE0" "4\xE0" "1\xE0" "0\xE0");
    // A second login on the same connection does not add the record twice.
    a.send(wire::buildCommandLine("connect", {"pc1", "10.0.0.1", "ann", Encrypt("pw")}));
    EXPECT_EQ(a.next().substr(0, 3), "OK\xE0");
    ASSERT_EQ(service.clientList().size(), 2u);
    EXPECT_EQ(service.clientList()[1]->ClientName, "pc1");

    Peer &b = connect();
    b.send(wire::buildCommandLine("connect", {"pc2", "10.0.0.2", "off", Encrypt("pw")}));
    EXPECT_EQ(b.next(), "FAIL\xE0this user is disabled\xE0");
    EXPECT_TRUE(waitFor([&] { return b.socket.state() == QAbstractSocket::UnconnectedState; }));

    Peer &c = connect();
    c.send(wire::buildCommandLine("connect", {"pc3", "10.0.0.3", "ANN", Encrypt("pw")}));
    EXPECT_EQ(c.next(), "FAIL\xE0wrong username/password\xE0");

    // Letters in a matching user's cipher end the session without a reply.
    Peer &d = connect();
    d.send(wire::buildCommandLine("connect", {"pc4", "10.0.0.4", "ann", "12a-"}));
    EXPECT_TRUE(waitFor([&] { return d.socket.state() == QAbstractSocket::UnconnectedState; }));
    d.read();
    EXPECT_TRUE(d.lines.empty());
    EXPECT_EQ(service.clientList().size(), 2u);

    // Disconnect removes the record.
    a.socket.disconnectFromHost();
    EXPECT_TRUE(waitFor([&] { return service.clientList().size() == 1; }));
}

TEST_F(ServiceFixture, LocksDialsAndTheLineLockWord)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    a.send("stat\xE0");
    settle();
    service.runTickSteps();
    const auto first = wire::parsePushLine(a.next());
    ASSERT_TRUE(first.hasStatus);
    EXPECT_EQ(first.status.clientNames, (std::vector<std::string>{"Admin@srv", "pc1", "pc2"}));
    b.next();

    a.send("lock\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    const auto pa = wire::parsePushLine(a.next());
    const auto pb = wire::parsePushLine(b.next());
    EXPECT_EQ(pa.status.lockStatus, "locked");
    EXPECT_EQ(pa.status.ownLock, "locking");
    EXPECT_EQ(pb.status.lockStatus, "locked");
    EXPECT_EQ(pb.status.ownLock, "free");
    EXPECT_EQ(pb.status.clientLocks, (std::vector<std::string>{"free", "locking", "free"}));

    // Locked: dial and hang-up are dropped, but the entry name follows.
    b.send("dial\xE0ISP\xE0pc2\xE0");
    b.send("hangup\xE0pc2\xE0");
    settle();
    EXPECT_EQ(dial.calls, std::vector<std::string>{"entry ISP"});

    b.send("unlockall\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Free);
    b.send("dial\xE0ISP\xE0pc2\xE0");
    b.send("hangup\xE0\xE0");
    settle();
    EXPECT_EQ(dial.calls, (std::vector<std::string>{"entry ISP", "dial ISP pc2", "hangup"}));

    // The operator's lock counts for the line too; a client's unlockall frees it.
    service.operatorLock();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    EXPECT_EQ(service.operatorLockState(), ClientLock::Locking);
    a.send("unlockall\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Free);
    EXPECT_EQ(service.operatorLockState(), ClientLock::Free);

}

TEST_F(ServiceFixture, EachCommandIsHeardWithItsUserHostAndAddressAndALockKeepsItsTime)
{
    std::vector<std::string> heard;
    QObject::connect(&service, &ClientService::commandHeard,
                     [&](const std::string &user, const std::string &host, const std::string &address,
                         const std::string &action, const std::string &detail) {
                         heard.push_back(user + "|" + host + "|" + address + "|" + action + "|" + detail);
                     });
    std::vector<ClientRow> rows;
    QObject::connect(&service, &ClientService::clientListUpdated,
                     [&](const std::vector<ClientRow> &r) { rows = r; });
    Peer &a = login("pc1", "10.0.0.1", "all");
    service.runTickSteps();
    a.send("dial\xE0ISP\xE0pc1\xE0");
    const std::int64_t before = QDateTime::currentSecsSinceEpoch();
    a.send("lock\xE0");
    settle();
    service.runTickSteps();
    service.UpdateClientList();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].lock, "locking");
    EXPECT_GE(rows[1].lockedSince, before);
    EXPECT_LE(rows[1].lockedSince, QDateTime::currentSecsSinceEpoch());
    EXPECT_EQ(rows[0].lockedSince, 0);

    a.send("hangup\xE0pc1\xE0");
    a.send("lock\xE0");
    a.send("unlockall\xE0");
    a.send("shutdown\xE0");
    settle();
    service.UpdateClientList();
    EXPECT_EQ(rows[1].lock, "free");
    EXPECT_EQ(rows[1].lockedSince, 0);
    // The address is the connection's, not the one the client claims.
    const std::string who = "all|pc1|127.0.0.1|";
    // An entry the server does not have is named as such.
    EXPECT_EQ(heard, (std::vector<std::string>{who + "dial|ISP (no such entry)", who + "lock|",
                                               who + "hangup|refused: the line is locked", who + "unlock|",
                                               who + "unlockall|", who + "shutdown|"}));

    // A loop of commands writes a burst, then says how many it left out.
    heard.clear();
    std::string flood;
    for (int i = 0; i < ClientService::AuditBurst + 40; ++i)
        flood += "lock\xE0\r\n";
    a.write(flood);
    settle();
    EXPECT_GE(heard.size(), std::size_t(ClientService::AuditBurst) - 6);  // the burst less what the six above took
    EXPECT_LT(heard.size(), std::size_t(ClientService::AuditBurst));
    a.socket.disconnectFromHost();
    EXPECT_TRUE(waitFor([&] { return service.clientList().size() == 1; }));
    // Told once the rows refill, whether the connection is still there or not.
    EXPECT_TRUE(waitFor([&] {
        service.runTickSteps();
        return !heard.empty() && heard.back().rfind(who + "left out|", 0) == 0;
    }, 3000));
}

TEST_F(ServiceFixture, ADroppedDialOrHangUpIsAnsweredWithTheStatusToItsSenderOnly)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    a.send("lock\xE0");
    settle();
    service.runTickSteps();
    service.runTickSteps();
    // What the lock and the logins brought is not what this is about.
    settle();
    a.read();
    b.read();
    a.lines.clear();
    b.lines.clear();

    // Refused by the lock: nothing in the status changes, yet b hears it.
    b.send("dial\xE0ISP\xE0pc2\xE0");
    settle();
    service.runTickSteps();
    const auto pb = wire::parsePushLine(b.next());
    ASSERT_TRUE(pb.hasStatus);
    EXPECT_EQ(pb.status.lockStatus, "locked");
    EXPECT_EQ(pb.status.ownLock, "free");
    EXPECT_EQ(a.next(200), "");
    // Once: the tick after has nothing for it.
    service.runTickSteps();
    EXPECT_EQ(b.next(200), "");

    a.send("hangup\xE0pc1\xE0");
    settle();
    service.runTickSteps();
    const auto pa = wire::parsePushLine(a.next());
    ASSERT_TRUE(pa.hasStatus);
    EXPECT_EQ(pa.status.ownLock, "locking");
    EXPECT_EQ(b.next(200), "");
}

TEST_F(ServiceFixture, CommandsThatTouchTheServerState)
{
    Peer &a = login("pc1", "10.0.0.1", "all");
    a.send("stat");  // no separator: no field, ignored
    a.send("STAT\xE0");
    settle();
    EXPECT_EQ(state.StatusChanged, 0);
    a.send("stat\xE0");
    settle();
    EXPECT_EQ(state.StatusChanged, 2);

    a.send("bandwidth\xE0" "active\xE0");
    settle();
    EXPECT_TRUE(service.clientList()[1]->MeterWanted);
    a.send("bandwidth\xE0" "ACTIVE\xE0");
    settle();
    EXPECT_FALSE(service.clientList()[1]->MeterWanted);

    shutdownMode = 5;
    a.send("shutdown\xE0");
    settle();
    shutdownMode = 1;
    a.send("shutdown\xE0");
    settle();
    shutdownMode = 7;
    a.send("shutdown\xE0");
    settle();
    EXPECT_EQ(shutdown.calls, (std::vector<int>{0, 8, 8}));
}

TEST_F(ServiceFixture, MessagesReachMailboxesAndTheOperator)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    a.next();
    b.next();
    service.runTickSteps();
    service.runTickSteps();  // let the status record go stale

    std::string inbox;
    QObject::connect(&service, &ClientService::serverInboxReady, [&](const std::string &m) { inbox = m; });
    const std::string rec = wire::buildMessageRecord({"10.0.0.1", "pc1", {"hello"}});
    a.send("pesan\xE0" "All\xE0" + rec + "\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(inbox, rec);
    for (Peer *p : {&a, &b}) {
        const auto line = wire::parsePushLine(p->next());
        EXPECT_FALSE(line.hasStatus);
        ASSERT_EQ(line.messages.size(), 1u);
        EXPECT_EQ(line.messages[0].bodyLines, std::vector<std::string>{"hello"});
    }

    // To one address: only that client gets a line; two messages arrive together.
    a.send("pesan\xE0" "10.0.0.2\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {"one"}}) + "\xE0");
    a.send("pesan\xE0" "10.0.0.2\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {"two"}}) + "\xE0");
    a.send("pesan\xE0" "10.9.9.9\xE0" + rec + "\xE0");  // nobody there: dropped
    settle();
    service.runTickSteps();
    const std::string raw = b.next();
    const auto line = wire::parsePushLine(raw);
    ASSERT_EQ(line.messages.size(), 2u) << raw;
    EXPECT_EQ(line.messages[1].bodyLines[0], "two");
    EXPECT_EQ(a.next(300), "");

    // The operator's message to one client: everyone gets a line, only it has mail.
    service.pesanserver("10.0.0.1", wire::buildMessageRecord({"192.0.2.1", "Admin@srv", {"hi"}}));
    service.runTickSteps();
    EXPECT_EQ(wire::parsePushLine(a.next()).messages.size(), 1u);
    EXPECT_EQ(wire::parsePushLine(b.next()).messages.size(), 0u);
}

TEST_F(ServiceFixture, PollingClosesClientsThatStoppedAnswering)
{
    state.PollingMinutes = 1;
    Peer &quiet = login("quiet", "10.0.0.1");
    Peer &answering = login("answers", "10.0.0.2");
    auto answeringRecord = [&]() -> TSimpleClient * {
        for (TSimpleClient *r : service.clientList())
            if (r->ClientName == "answers")
                return r;
        return nullptr;
    };
    auto tick = [&] {
        service.runTickSteps();
        // Lines go out after a polling round (and after the logins); nothing
        // else changes here.
        if (service.pollCount() != 0 && state.StatusChanged == 0 && service.statusFresh() == 0)
            return;
        // The answering client says "trm" for every non-empty line it reads.
        if (answering.next(500).empty())
            return;
        answering.lines.clear();
        answering.send("trm\xE0");
        waitFor([&] { return answeringRecord() && answeringRecord()->Alive == "1"; });
    };
    for (int i = 0; i < 121; ++i)
        tick();  // first round: everyone was alive since login
    EXPECT_EQ(service.clientList().size(), 3u);
    for (int i = 0; i < 121; ++i)
        tick();  // second round: the quiet one never answered
    EXPECT_TRUE(waitFor([&] { return quiet.socket.state() == QAbstractSocket::UnconnectedState; }));
    ASSERT_EQ(service.clientList().size(), 2u);
    EXPECT_EQ(service.clientList()[1]->ClientName, "answers");

    state.PollingMinutes = 0;
    for (int i = 0; i < 300; ++i)
        service.runTickSteps();
    EXPECT_EQ(service.clientList().size(), 2u);
}

TEST_F(ServiceFixture, ASlowReaderIsDroppedAndTheOthersKeepTheirLines)
{
    Peer &slow = login("slow", "10.0.0.1");
    Peer &fast = login("fast", "10.0.0.2");
    slow.socket.setReadBufferSize(1);  // stops reading from the kernel almost at once
    state.ActiveStatus = LinkState::Connected;
    slow.send("bandwidth\xE0" "active\xE0");
    fast.send("bandwidth\xE0" "active\xE0");
    settle();
    slow.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    service.setTrafficText(std::string(16000, '7') + "\xE2" "1\xE2");
    int received = 0;
    int ticks = 0;
    for (int i = 0; i < 5000 && service.clientList().size() == 3; ++i, ++ticks) {
        service.runTickSteps();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        fast.read();
        received += static_cast<int>(fast.lines.size());
        fast.lines.clear();
    }
    ASSERT_EQ(service.clientList().size(), 2u);
    EXPECT_EQ(service.clientList()[1]->ClientName, "fast");
    // The fast client got a line on every tick, before the drop and after it.
    for (int i = 0; i < 5; ++i, ++ticks)
        service.runTickSteps();
    EXPECT_TRUE(waitFor([&] {
        fast.read();
        received += static_cast<int>(fast.lines.size());
        fast.lines.clear();
        return received >= ticks;
    }));
    EXPECT_EQ(received, ticks);
    EXPECT_GT(ticks, 20);
}

TEST_F(ServiceFixture, ALargeMailboxIsSpreadOverWholeLines)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    a.next();
    b.next();
    service.runTickSteps();
    service.runTickSteps();
    for (int i = 0; i < 200; ++i) {
        std::string body = std::to_string(i) + ":" + std::string(190, 'x');
        a.send("pesan\xE0" "10.0.0.2\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {body}}) + "\xE0");
    }
    settle();
    ASSERT_TRUE(waitFor([&] { return service.clientList()[2]->Mailbox.size() > 200 * 200; }));
    // A status change on the same tick puts the status record in the first line.
    state.StatusText = "Dialing...";
    service.runTickSteps();
    std::vector<wire::MessageRecord> got;
    int lines = 0;
    bool statusSeen = false;
    while (got.size() < 200) {
        const std::string l = b.next();
        ASSERT_FALSE(l.empty()) << "after " << got.size();
        EXPECT_LE(l.size(), LineFramer::MaxLineLength);
        const auto p = wire::parsePushLine(l);
        if (lines == 0)
            statusSeen = p.hasStatus && p.status.statusText == "Dialing...";
        else
            EXPECT_FALSE(p.hasStatus);
        got.insert(got.end(), p.messages.begin(), p.messages.end());
        ++lines;
    }
    EXPECT_TRUE(statusSeen);
    EXPECT_GT(lines, 2);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(got[i].bodyLines.at(0).substr(0, std::to_string(i).size() + 1), std::to_string(i) + ":");
    EXPECT_EQ(b.next(200), "");
}

TEST_F(ServiceFixture, OverlongLineEndsOnlyThatSession)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    a.socket.write(QByteArray(20000, 'x'));
    EXPECT_TRUE(waitFor([&] { return a.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(waitFor([&] { return service.clientList().size() == 2; }));
    b.send("lock\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(wire::parsePushLine(b.next()).status.ownLock, "locking");

    service.goOffline();
    EXPECT_TRUE(service.clientList().empty());
    EXPECT_TRUE(waitFor([&] { return b.socket.state() == QAbstractSocket::UnconnectedState; }));
}

namespace {

// A blocking socket of our own, for a peer that must not depend on our event loop.
int rawConnect(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TEST_F(ServiceFixture, AChatFloodNeitherStallsNorDropsTheOthers)
{
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    b.next();
    service.runTickSteps();
    service.runTickSteps();

    // Another thread floods "pesan" to All as fast as the kernel takes it.
    constexpr int Messages = 500;
    const int fd = rawConnect(listener.serverPort());
    ASSERT_GE(fd, 0);
    std::atomic<bool> written{false};
    // It logs in first and reads what it is sent, as a client does.
    std::thread drainer([fd] {
        char buf[65536];
        while (::recv(fd, buf, sizeof buf, 0) > 0) {
        }
    });
    std::thread flooder([&] {
        const std::string hello = wire::buildCommandLine("connect", {"pc9", "10.0.0.9", "ann", Encrypt("pw")}) + "\r\n";
        if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size()))
            return;
        for (int i = 0; i < Messages; ++i) {
            const std::string body = std::to_string(i) + ":" + std::string(8000, 'f');
            const std::string line = "pesan\xE0" "All\xE0" + wire::buildMessageRecord({"10.0.0.9", "flood", {body}}) + "\xE0\r\n";
            for (std::size_t done = 0; done < line.size();) {
                const ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                done += static_cast<std::size_t>(n);
            }
        }
        written = true;
    });

    std::size_t largestMailbox = 0;
    qint64 longestGap = 0;
    std::vector<wire::MessageRecord> got;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        for (const TSimpleClient *r : service.clientList())
            largestMailbox = std::max(largestMailbox, r->Mailbox.size());
        service.runTickSteps();
    });
    tick.start(50);
    QElapsedTimer total;
    total.start();
    while (got.size() < Messages && total.elapsed() < 20000 && service.clientList().size() >= 2) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        b.read();
        for (const std::string &l : b.lines) {
            EXPECT_LE(l.size(), LineFramer::MaxLineLength);
            const auto p = wire::parsePushLine(l);
            got.insert(got.end(), p.messages.begin(), p.messages.end());
        }
        b.lines.clear();
    }
    tick.stop();
    flooder.join();
    // Once drained, the flooder's session still takes lines.
    const std::string tail = "pesan\xE0" "All\xE0" + wire::buildMessageRecord({"10.0.0.9", "flood", {"tail"}}) + "\xE0\r\n";
    EXPECT_EQ(::send(fd, tail.data(), tail.size(), MSG_NOSIGNAL), static_cast<ssize_t>(tail.size()));
    ASSERT_TRUE(waitFor([&] { return service.clientList().front()->Mailbox.find("tail") != std::string::npos; }));
    ::shutdown(fd, SHUT_RDWR);
    drainer.join();
    ::close(fd);

    EXPECT_TRUE(written);
    // The reader keeps its session and gets every message, whole and in order.
    ASSERT_TRUE(waitFor([&] { return service.clientList().size() == 2; }));
    EXPECT_EQ(service.clientList()[1]->ClientName, "pc2");
    ASSERT_EQ(got.size(), static_cast<std::size_t>(Messages));
    for (int i = 0; i < Messages; ++i)
        ASSERT_EQ(got[i].bodyLines.at(0).substr(0, std::to_string(i).size() + 1), std::to_string(i) + ":");
    // What waits for the next tick stays small, and the ticks keep coming.
    EXPECT_LE(largestMailbox, std::size_t{1} << 20);
    EXPECT_LT(longestGap, 400);
}

TEST_F(ServiceFixture, OversizedTextsFromOnePeerDoNotBreakTheOthersLines)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.setTrafficText("123456789\xE2" "987654321\xE2");
    service.runTickSteps();
    a.next();
    b.next();

    // A record that fills a command line leaves no room in a push line for the rest.
    const std::string big = wire::buildMessageRecord({"10.0.0.1", "pc1", {std::string(16357, 'x')}});
    ASSERT_EQ(big.size() + 11, LineFramer::MaxLineLength);
    a.send("pesan\xE0" "All\xE0" + big + "\xE0");
    settle();
    service.runTickSteps();
    // A host name as long as a line would go into everyone's status record.
    Peer &c = connect();
    const std::string longName(16300, 'n');
    c.send(wire::buildCommandLine("connect", {longName, "10.0.0.3", "ann", Encrypt("pw")}));
    EXPECT_EQ(wire::parseLoginReply(c.next()).kind, wire::LoginReply::Kind::Accepted);
    settle();
    service.runTickSteps();
    a.send("pesan\xE0" "All\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {"after"}}) + "\xE0");
    settle();
    service.runTickSteps();

    // Every line b is sent fits its reader, and it still hears the next message.
    LineFramer strict;
    std::vector<std::string> lines;
    bool heardAfter = false;
    waitFor([&] {
        const QByteArray bytes = b.socket.readAll();
        EXPECT_TRUE(strict.feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), lines));
        for (const auto &l : lines)
            for (const auto &m : wire::parsePushLine(l).messages)
                heardAfter = heardAfter || m.bodyLines == std::vector<std::string>{"after"};
        lines.clear();
        return heardAfter || strict.failed();
    });
    EXPECT_FALSE(strict.failed());
    EXPECT_TRUE(heardAfter);
    ASSERT_EQ(service.clientList().size(), 4u);
    const std::string &shownName = service.clientList()[3]->ClientName;
    EXPECT_FALSE(shownName.empty());
    EXPECT_EQ(longName.compare(0, shownName.size(), shownName), 0);
}

TEST_F(ServiceFixture, TheListenerAcceptsAgainAfterRunningOutOfFiles)
{
    // Sockets made first, so that only the listener meets the limit.
    std::vector<int> fds;
    for (int i = 0; i < 6; ++i)
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::size_t open = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++open;
    rlimit tight = saved;
    tight.rlim_cur = open + 1;  // room for two sessions (the iterator held one)
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(listener.serverPort());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto connectFd = [&](int fd) { return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0; };
    bool ranOut = false;
    QObject::connect(&listener, &QTcpServer::acceptError, [&] { ranOut = true; });
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(connectFd(fds[i]));  // the kernel completes them from the backlog
    // Those it could take are sessions by the time it says it ran out.
    waitFor([&] { return ranOut; }, 2000);
    const std::size_t atLimit = service.sessionCount();
    EXPECT_LT(atLimit, 4u);

    // Files free up again: the waiting and the new connections get their sessions.
    for (int i = 0; i < 2; ++i)
        ::close(fds[i]);
    EXPECT_TRUE(waitFor([&] { return service.sessionCount() < atLimit; }));
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(connectFd(fds[4]));
    EXPECT_TRUE(waitFor([&] { return service.sessionCount() == 3; }, 5000)) << service.sessionCount();
    for (int i = 2; i < 6; ++i)
        ::close(fds[i]);
}

TEST_F(ServiceFixture, AShutdownRequestIsToldToTheOperatorAndARefusalToo)
{
    Peer &a = login("pc1", "10.0.0.1", "all");
    std::vector<std::string> told;
    QObject::connect(&service, &ClientService::problem, [&](const std::string &t) { told.push_back(t); });
    a.send("shutdown\xE0");
    settle();
    EXPECT_EQ(told, std::vector<std::string>{"pc1 asked to shut this computer down."});
    shutdown.result = false;
    shutdown.error = "Access denied";
    a.send("shutdown\xE0");
    settle();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[1].find("Access denied"), std::string::npos);
    EXPECT_EQ(shutdown.calls.size(), 2u);
}

TEST_F(ServiceFixture, TheGateServesOnlyLoggedInUsersAndOnlyWhatTheirPrivilegesAllow)
{
    std::vector<std::string> heard;
    QObject::connect(&service, &ClientService::commandHeard,
                     [&](const std::string &user, const std::string &, const std::string &,
                         const std::string &action, const std::string &detail) {
                         heard.push_back(user + "|" + action + "|" + detail);
                     });
    int inboxes = 0;
    QObject::connect(&service, &ClientService::serverInboxReady, [&](const std::string &) { ++inboxes; });
    state.EntryNames = {"ISP"};
    service.operatorLock();
    service.runTickSteps();

    // Never logged in: every line but the login is ignored, unanswered.
    Peer &s = connect();
    for (const char *line : {"dial\xE0ISP\xE0x\xE0", "hangup\xE0x\xE0", "lock\xE0", "unlockall\xE0", "shutdown\xE0",
                             "pesan\xE0" "All\xE0" "6.6.6.6\xE3" "x\xE3" "hi\xE4\xE3\xE5\xE0", "stat\xE0"})
        s.send(line);
    settle();
    service.runTickSteps();
    EXPECT_TRUE(dial.calls.empty());
    EXPECT_TRUE(shutdown.calls.empty());
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(inboxes, 0);
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    EXPECT_EQ(s.next(200), "");

    // No privilege: refused, each with its row, and the status record back.
    service.operatorUnlock();
    Peer &n = login("pc9", "10.0.0.9", "none");
    service.runTickSteps();
    n.read();
    n.lines.clear();
    for (const char *line : {"dial\xE0ISP\xE0pc9\xE0", "hangup\xE0pc9\xE0", "unlockall\xE0", "shutdown\xE0"})
        n.send(line);
    settle();
    service.runTickSteps();
    EXPECT_TRUE(dial.calls.empty());
    EXPECT_TRUE(shutdown.calls.empty());
    EXPECT_EQ(heard, (std::vector<std::string>{"none|dial|ISP (refused: no dial privilege)",
                                               "none|hangup|refused: no hang-up privilege",
                                               "none|unlockall|refused: no unlock-all privilege",
                                               "none|shutdown|refused: no shutdown privilege"}));
    EXPECT_TRUE(wire::parsePushLine(n.next()).hasStatus);
    // Locking needs only the login.
    n.send("lock\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    n.send("lock\xE0");
    settle();
    service.runTickSteps();

    // Privileges are the store's as it is when the command comes.
    const std::string sep = "\xE3";
    test::writeFile(dir.file("user.cfg"), "none" + sep + "Guest" + sep + Encrypt("pw") + sep + "0" + sep + "0" + sep +
                                              "1" + sep + "0" + sep + "\r\n");
    ASSERT_TRUE(users.updateuserlist());
    heard.clear();
    n.send("dial\xE0" "Other\xE0pc9\xE0");
    n.send("shutdown\xE0");
    settle();
    EXPECT_EQ(dial.calls, (std::vector<std::string>{"dial Other pc9"}));
    EXPECT_EQ(heard, (std::vector<std::string>{"none|dial|Other (no such entry)",
                                               "none|shutdown|refused: no shutdown privilege"}));
    // A login the store no longer knows keeps no privilege.
    test::writeFile(dir.file("user.cfg"), "");
    ASSERT_TRUE(users.updateuserlist());
    n.send("hangup\xE0pc9\xE0");
    settle();
    EXPECT_EQ(heard.back(), "none|hangup|refused: the login is no longer valid");
    EXPECT_EQ(dial.calls.size(), 1u);
}

TEST_F(ServiceFixture, ReconnectingInALoopBuysNoNewAuditRows)
{
    service.setStrangerLimits(StrangerLimits{30, 4096, 100000, 0});
    std::size_t rows = 0;
    QObject::connect(&service, &ClientService::commandHeard,
                     [&](const std::string &, const std::string &, const std::string &, const std::string &,
                         const std::string &) { ++rows; });
    const std::string lines =
        wire::buildCommandLine("connect", {"pc1", "10.0.0.1", "all", Encrypt("pw")}) + "\r\nlock\xE0\r\n";
    for (int i = 0; i < 2000; ++i) {
        const int fd = rawConnect(listener.serverPort());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL), static_cast<ssize_t>(lines.size()));
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        if (i % 50 == 49)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_TRUE(waitFor([&] { return service.sessionCount() == 0; }, 10000));
    // The burst and about one a second: a few dozen, not two thousand.
    EXPECT_GE(rows, std::size_t(CommandGate::AuditBurst));
    EXPECT_LT(rows, std::size_t(CommandGate::AuditBurst) + 60);
}

TEST_F(ServiceFixture, ChatSendersAreWhoTheyLoggedInAsAndMailGoesOnlyToTheRealComputer)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    a.next();
    b.next();
    // Forged as the operator: the server puts the sender's own fields back.
    a.send("pesan\xE0" "10.0.0.2\xE0" +
           wire::buildMessageRecord({"192.0.2.1", "Admin@srv", {"shut down now"}}) + "\xE0");
    // Its own fields pass as they are, byte for byte.
    const std::string own = wire::buildMessageRecord({"10.0.0.1", "pc1", {"hello", ""}});
    a.send("pesan\xE0" "10.0.0.2\xE0" + own + "\xE0");
    settle();
    service.runTickSteps();
    const auto got = wire::parsePushLine(b.next()).messages;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].senderAddress, "10.0.0.1");
    EXPECT_EQ(got[0].senderName, "pc1");
    EXPECT_EQ(got[0].bodyLines, std::vector<std::string>{"shut down now"});
    EXPECT_EQ(wire::buildMessageRecord(got[1]), own);

    // A second record on the same line cannot slip through unchecked.
    EXPECT_EQ(CommandGate::honestRecord(*service.clientList()[1],
                                        wire::buildMessageRecord({"10.0.0.1", "pc1", {"a"}}) +
                                            wire::buildMessageRecord({"192.0.2.1", "Admin@srv", {"b"}})),
              wire::buildMessageRecord({"10.0.0.1", "pc1", {"a"}}));
}

TEST_F(ServiceFixture, TheDiallersNameLosesItsControlBytesAndOneUserHoldsAtMostItsSessions)
{
    Peer &a = login("pc1", "10.0.0.1", "all");
    service.runTickSteps();
    a.send("dial\xE0ISP\xE0=1+2\x1B[2J\rLocal\xE0");
    settle();
    EXPECT_EQ(dial.calls.back(), "dial ISP =1+2[2JLocal");

    service.setStrangerLimits(StrangerLimits{30, 64, 16, 2});
    login("pc2", "10.0.0.2", "all");
    Peer &third = connect();
    third.send(wire::buildCommandLine("connect", {"pc3", "10.0.0.3", "all", Encrypt("pw")}));
    EXPECT_EQ(third.next(), "FAIL\xE0too many sessions of this user\xE0");
    login("pc4", "10.0.0.4", "ann");
}

TEST_F(ServiceFixture, AFullWaitingRoomLetsTheNewcomerInInPlaceOfTheOldestStranger)
{
    service.setStrangerLimits(StrangerLimits{30, 2, 16, 8});
    Peer &first = connect();
    Peer &second = connect();
    first.send("conn");  // a stranger that said something goes after a silent one
    settle();
    peers.push_back(std::make_unique<Peer>());
    Peer &third = *peers.back();
    third.socket.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(third.socket.waitForConnected(2000));
    EXPECT_TRUE(waitFor([&] { return second.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(service.pendingCount(), 2u);
    third.send(wire::buildCommandLine("connect", {"pc3", "10.0.0.3", "ann", Encrypt("pw")}));
    EXPECT_EQ(wire::parseLoginReply(third.next()).kind, wire::LoginReply::Kind::Accepted);
    EXPECT_EQ(first.socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(ServiceFixture, AConnectionOverTheDialledLineIsClosedUnread)
{
    // Loopback plays the line here: its addresses face "the provider".
    DialledSide side;
    side.setLineInterfaces({"lo"});
    listener.setDialledSide(&side);
    QTcpSocket c;
    c.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(c.waitForConnected(2000));
    c.write(wire::buildCommandLine("connect", {"x", "1.2.3.4", "ann", Encrypt("pw")}).c_str());
    c.write("\r\n");
    EXPECT_TRUE(waitFor([&] { return c.state() == QAbstractSocket::UnconnectedState; }, 2000));
    EXPECT_EQ(service.sessionCount(), 0u);
    EXPECT_EQ(side.lastInterface(), "lo");

    listener.setDialledSide(nullptr);
    Peer &p = login("pc1", "10.0.0.1");
    EXPECT_EQ(p.socket.state(), QAbstractSocket::ConnectedState);
}
