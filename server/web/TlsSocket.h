#pragma once
// A connection of the web port as the HTTP server wants it, a QTcpSocket,
// with TLS done as the client port's sessions do it: OpenSSL on memory
// buffers, records handed to the kernel at once. It reads and writes its
// descriptor itself, with notifiers of its own: an event stream's tick costs
// a record and a send, and an open stream is left out of the event loop's
// poll (its owner looks at it once a tick, readNow) instead of being polled
// on every turn of the loop.
//
// Only what the HTTP server and the web port use is served: reading,
// writing, transactions (QIODevice's own), the peer's address, the state,
// disconnectFromHost and the disconnected signal. Qt's socket engine never
// sees it.

#include <QByteArray>
#include <QTcpSocket>

#include "server/clientservice/TlsChannel.h"

class QSocketNotifier;

namespace velora::server::web {

class TlsSocket : public QTcpSocket {
    Q_OBJECT
public:
    // Takes a connected descriptor; on failure it is closed and the socket
    // is unconnected. Reads no more from the kernel while readAhead
    // decrypted bytes wait to be read: the rest waits there.
    TlsSocket(qintptr descriptor, const clientservice::TlsContext &context, qint64 readAhead,
              QObject *parent = nullptr);
    ~TlsSocket() override;

    bool isEncrypted() const { return tls_.isEstablished(); }

    qint64 bytesAvailable() const override;
    // What the kernel has not taken yet.
    qint64 bytesToWrite() const override;
    // close_notify, then the descriptor closes once what is due is sent;
    // a peer that stopped reading is not waited for.
    void disconnectFromHost() override;
    void close() override;
    // Ends the connection now, nothing more sent. Hides QAbstractSocket's,
    // which would close politely here.
    void abort();
    // What was written goes out now, as one record. Hides QAbstractSocket's.
    bool flush();

    // Reads what has come: the client hello sent with the connect, or,
    // while the event loop does not watch it, a stream's close.
    void readNow();
    // An event stream: each write goes out at once, and the event loop no
    // longer watches it for reading; the owner calls readNow once a tick.
    void becomeStream();

signals:
    // The handshake is done; requests may follow.
    void encrypted();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;
    qint64 skipData(qint64 maxSize) override;

private:
    void readPlain();
    void sendOut();
    void sendBacklog();
    void closeDescriptor();
    void ended();
    void failLater();

    int fd_ = -1;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    clientservice::TlsChannel tls_;
    // Decrypted, not yet read by the HTTP server.
    QByteArray decrypted_;
    // Written, not yet encrypted.
    QByteArray unsent_;
    // Encrypted, not taken by the kernel yet: from backlogSent_ on.
    QByteArray backlog_;
    qsizetype backlogSent_ = 0;
    qint64 readAhead_;
    // Reading stopped at readAhead with more in the kernel.
    bool full_ = false;
    bool flushQueued_ = false;
    bool stream_ = false;
};

}  // namespace velora::server::web
