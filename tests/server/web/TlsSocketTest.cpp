// The web port's socket against Qt's own TLS client over loopback: a large
// answer to a reader that holds back, a request longer than the read-ahead,
// a stream whose browser left, and a polite close after a backlog.
#include <gtest/gtest.h>

#include <QSslSocket>
#include <QTcpServer>
#include <algorithm>
#include <memory>
#include <vector>

#include <sys/socket.h>

#include "server/web/TlsSocket.h"
#include "support/TestTlsContext.h"
#include "support/Wait.h"

using velora::server::web::TlsSocket;
using velora::test::waitFor;

namespace {

// Hands over accepted descriptors untouched, as the web port's listener does.
class Catcher : public QTcpServer {
public:
    std::vector<qintptr> caught;

protected:
    void incomingConnection(qintptr descriptor) override { caught.push_back(descriptor); }
};

QByteArray pattern(qsizetype size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = static_cast<char>('a' + i % 23);
    return b;
}

struct Pair {
    explicit Pair(qint64 readAhead = 64 * 1024, int sendBuffer = 0)
    {
        EXPECT_TRUE(listener.listen(QHostAddress::LocalHost));
        client.setPeerVerifyMode(QSslSocket::VerifyNone);
        client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), listener.serverPort());
        EXPECT_TRUE(waitFor([&] { return !listener.caught.empty(); }));
        if (sendBuffer)
            ::setsockopt(static_cast<int>(listener.caught.front()), SOL_SOCKET, SO_SNDBUF, &sendBuffer,
                         sizeof sendBuffer);
        server = std::make_unique<TlsSocket>(listener.caught.front(), *context, readAhead);
        QObject::connect(server.get(), &TlsSocket::encrypted, [this] { encrypted = true; });
        QObject::connect(server.get(), &TlsSocket::disconnected, [this] { ++disconnects; });
        server->readNow();
        EXPECT_TRUE(waitFor([&] { return client.isEncrypted() && encrypted; }));
        EXPECT_EQ(server->peerAddress(), QHostAddress(QHostAddress::LocalHost));
        EXPECT_EQ(server->peerPort(), client.localPort());
    }
    std::shared_ptr<velora::server::clientservice::TlsContext> context = velora::test::makeTlsContext();
    Catcher listener;
    QSslSocket client;
    std::unique_ptr<TlsSocket> server;
    bool encrypted = false;
    int disconnects = 0;
};

}  // namespace

TEST(TlsSocket, WhatTheKernelCannotTakeIsSentAsThePeerReadsAndAPoliteCloseWaitsForIt)
{
    Pair p(64 * 1024, 8192);
    // The reader holds back: its kernel window fills, ours too.
    p.client.setReadBufferSize(4096);
    const QByteArray answer = pattern(4 * 1024 * 1024);
    EXPECT_EQ(p.server->write(answer), answer.size());
    EXPECT_TRUE(p.server->flush());
    EXPECT_GT(p.server->bytesToWrite(), 0);
    p.client.setReadBufferSize(0);
    QByteArray got;
    EXPECT_TRUE(waitFor([&] {
        got += p.client.readAll();
        return got.size() >= answer.size();
    }, 20000));
    EXPECT_TRUE(got == answer);
    EXPECT_TRUE(waitFor([&] { return p.server->bytesToWrite() == 0; }));

    // A close with a little still owed: it goes first, then close_notify.
    const QByteArray last = pattern(40 * 1024);
    p.client.setReadBufferSize(1024);
    p.server->write(last);
    p.server->flush();
    p.server->disconnectFromHost();
    p.client.setReadBufferSize(0);
    got.clear();
    EXPECT_TRUE(waitFor([&] {
        got += p.client.readAll();
        return p.disconnects == 1 && p.client.state() == QAbstractSocket::UnconnectedState;
    }, 10000));
    got += p.client.readAll();
    EXPECT_TRUE(got == last);
    EXPECT_EQ(p.server->state(), QAbstractSocket::UnconnectedState);
}

TEST(TlsSocket, ARequestLongerThanTheReadAheadComesInPartsAndWhole)
{
    Pair p(16 * 1024);
    qint64 most = 0;
    QObject::connect(p.server.get(), &TlsSocket::readyRead, [&] { most = std::max(most, p.server->bytesAvailable()); });
    const QByteArray request = pattern(300 * 1024);
    p.client.write(request);
    QByteArray got;
    // Read slowly: what waits past the read-ahead stays in the kernel.
    EXPECT_TRUE(waitFor([&] {
        got += p.server->read(3000);
        return got.size() >= request.size();
    }, 20000));
    EXPECT_TRUE(got == request);
    // Past the bound: at most a chunk read from the kernel (and a record),
    // and QIODevice's own buffer of a chunk.
    EXPECT_LE(most, 16 * 1024 + 16 * 1024 + 16 * 1024 + 512);
    EXPECT_GT(most, 0);
}

TEST(TlsSocket, AStreamIsWrittenAtOnceAndItsPeersLeavingIsFoundWhenItIsRead)
{
    Pair p;
    p.server->becomeStream();
    p.server->write("event: status\ndata: {}\n\n");
    // Out with the write, not on a later turn of the event loop.
    EXPECT_EQ(p.server->bytesToWrite(), 0);
    EXPECT_TRUE(waitFor([&] { return p.client.bytesAvailable() > 0; }));
    EXPECT_EQ(p.client.readAll(), QByteArray("event: status\ndata: {}\n\n"));
    p.client.abort();
    EXPECT_TRUE(waitFor([&] {
        p.server->readNow();
        return p.disconnects == 1;
    }));
    EXPECT_EQ(p.server->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(p.server->write("more"), -1);
    // Deleting it later tells no one twice.
    p.server.reset();
    EXPECT_EQ(p.disconnects, 1);
}
