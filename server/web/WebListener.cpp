#include "server/web/WebListener.h"

#include <unistd.h>

#include "server/web/TlsSocket.h"

namespace velora::server::web {

WebListener::WebListener(std::shared_ptr<const clientservice::TlsContext> tls, WebLimits limits, Clock clock,
                         QObject *parent)
    : SessionListener(parent), tls_(std::move(tls)), limits_(limits), clock_(std::move(clock))
{
    sweep_.setInterval(1000);
    connect(&sweep_, &QTimer::timeout, this, &WebListener::sweep);
    sweep_.start();
}

WebListener::~WebListener()
{
    for (auto &[socket, c] : connections_)
        socket->disconnect(this);
}

std::size_t WebListener::fromAddress(const std::string &peer) const
{
    std::size_t n = 0;
    for (const auto &[socket, c] : connections_)
        n += c.peer == peer;
    return n;
}

void WebListener::incomingConnection(qintptr descriptor)
{
    if (!admitDescriptor(descriptor))
        return;
    if (!tls_ || connections_.size() >= static_cast<std::size_t>(limits_.maxConnections)) {
        ++refused_;
        ::close(static_cast<int>(descriptor));
        return;
    }
    // What is decrypted ahead of the HTTP server is bounded; the rest waits
    // in the kernel.
    auto *socket = new TlsSocket(descriptor, *tls_, static_cast<qint64>(limits_.maxRequestBytes), this);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        delete socket;
        return;
    }
    const std::string peer = socket->peerAddress().toString().toStdString();
    if (fromAddress(peer) >= static_cast<std::size_t>(limits_.maxPerAddress)) {
        ++refused_;
        delete socket;
        return;
    }
    const std::int64_t now = clock_();
    connections_[socket] = Connection{peer, now, now};
    // Connected before the HTTP server's own: the bounds see every byte first.
    connect(socket, &TlsSocket::readyRead, this, [this, socket] { onBytes(socket); });
    connect(socket, &TlsSocket::encrypted, this, [this, socket] {
        auto it = connections_.find(socket);
        if (it == connections_.end())
            return;
        it->second.encrypted = true;
        it->second.lastActive = clock_();
        addPendingConnection(socket);
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        connections_.erase(socket);
        socket->deleteLater();
    });
    // A client hello sent with the connect is answered now; a plain request
    // or an old protocol ends here.
    socket->readNow();
}

void WebListener::onBytes(TlsSocket *socket)
{
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    Connection &c = it->second;
    const std::int64_t now = clock_();
    c.lastActive = now;
    if (c.stream) {
        // A stream only listens; whatever it sends is dropped.
        socket->readAll();
        return;
    }
    if (c.requestStart < 0)
        c.requestStart = now;
    // The HTTP server takes everything buffered after this; what is new is
    // what arrived since the last look.
    c.requestBytes += static_cast<std::size_t>(socket->bytesAvailable());
    if (c.requestBytes > limits_.maxRequestBytes) {
        ++refused_;
        close(socket);
    }
}

void WebListener::requestSeen(QTcpSocket *socket)
{
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    it->second.requestStart = -1;
    it->second.requestBytes = 0;
    it->second.lastActive = clock_();
}

void WebListener::becameStream(QTcpSocket *socket)
{
    auto it = connections_.find(socket);
    if (it != connections_.end())
        it->second.stream = true;
}

void WebListener::close(TlsSocket *socket)
{
    connections_.erase(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void WebListener::sweep()
{
    const std::int64_t now = clock_();
    std::vector<TlsSocket *> late;
    for (const auto &[socket, c] : connections_) {
        const bool handshakeLate = !c.encrypted && now - c.acceptedAt > limits_.handshakeMs;
        const bool requestLate = !c.stream && c.requestStart >= 0 && now - c.requestStart > limits_.requestMs;
        const bool idle = !c.stream && c.requestStart < 0 && now - c.lastActive > limits_.idleMs;
        if (handshakeLate || requestLate || idle)
            late.push_back(static_cast<TlsSocket *>(socket));
    }
    for (TlsSocket *socket : late)
        close(socket);
}

}  // namespace velora::server::web
