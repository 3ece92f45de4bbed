#pragma once
// The client service between real sockets: a fixture with a recording dial,
// raw peers and a service on a free port, shared by the tests of each concern.

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
namespace velora::test::service {

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
        const bool settled = waitFor([this] {
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
        EXPECT_TRUE(settled) << "bytes still in flight";
    }
    const Session *sessionOf(const Peer &p) const
    {
        for (const Session *s : service.transport().sessions())
            if (s->socket()->peerPort() == p.socket.localPort())
                return s;
        return nullptr;
    }
};

// A blocking socket of our own, for a peer that must not depend on our event loop.
inline int rawConnect(quint16 port)
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

}  // namespace velora::test::service

using namespace velora::test::service;
