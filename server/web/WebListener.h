#pragma once
// The web port's listener: the same doors as the client port (never the
// dialled side, descriptors kept in reserve), HTTPS from the first byte,
// and bounds on what a browser may hold: connections in all and from one
// address, the handshake's time, the size and time of a request, and how
// long a quiet connection stays open. Connections reach the HTTP server
// only once their handshake is done.

#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "server/clientservice/Transport.h"

class QTcpSocket;

namespace velora::server::web {

class TlsSocket;

struct WebLimits {
    int maxConnections = 256;
    int maxPerAddress = 32;
    std::int64_t handshakeMs = 30'000;
    // From a request's first byte to its end.
    std::int64_t requestMs = 10'000;
    std::size_t maxRequestBytes = 64 * 1024;
    // A connection with no request in flight and no event stream.
    std::int64_t idleMs = 60'000;
};

class WebListener : public clientservice::SessionListener {
    Q_OBJECT
public:
    using Clock = std::function<std::int64_t()>;
    WebListener(std::shared_ptr<const clientservice::TlsContext> tls, WebLimits limits, Clock clock,
                QObject *parent = nullptr);
    ~WebListener() override;

    // A whole request arrived on the socket: its bounds start again.
    void requestSeen(QTcpSocket *socket);
    // The socket now carries an event stream: no idle time-out, no more requests.
    void becameStream(QTcpSocket *socket);
    std::size_t connectionCount() const { return connections_.size(); }
    // Connections refused or closed for a bound, since start.
    std::size_t refusedTotal() const { return refused_; }
    // Closes what is past its time; the owner's clock drives it.
    void sweep();

private:
    void incomingConnection(qintptr descriptor) override;
    struct Connection {
        std::string peer;
        std::int64_t acceptedAt = 0;
        std::int64_t lastActive = 0;
        std::int64_t requestStart = -1;
        std::size_t requestBytes = 0;
        bool encrypted = false;
        bool stream = false;
    };
    void onBytes(TlsSocket *socket);
    void close(TlsSocket *socket);
    std::size_t fromAddress(const std::string &peer) const;

    std::shared_ptr<const clientservice::TlsContext> tls_;
    WebLimits limits_;
    Clock clock_;
    std::map<QTcpSocket *, Connection> connections_;
    std::size_t refused_ = 0;
    QTimer sweep_;
};

}  // namespace velora::server::web
