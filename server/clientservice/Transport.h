#pragma once
// The transport: the listener, the sessions on its connections and the
// bounds on those that have not logged in. A connection that comes in over
// the dialled line is closed before a byte of it is read.

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/clientservice/Session.h"
#include "server/clientservice/StrangerGuard.h"
#include "server/clientservice/TlsChannel.h"

class QTcpSocket;

namespace velora::server::state {
class DialledSide;
}

namespace velora::server::clientservice {

// The listening socket. Its sockets are opened unbuffered and each session
// caps what Qt may read ahead for it (Session::ReadBufferBytes), so an idle
// session costs little and a paused one leaves the rest in the kernel.
class SessionListener : public QTcpServer {
    Q_OBJECT
public:
    explicit SessionListener(QObject *parent = nullptr);

    // Raises the soft descriptor limit to the hard one; says what it did.
    static std::string raiseDescriptorLimit();

    // The last descriptors below the limit are kept for the log, the line's
    // children and look-ups: a connection that would take one is closed at
    // once. 0 (the default) keeps none.
    void setDescriptorReserve(int count) { reserve_ = count; }
    // Connections whose local address faces the dialled line are closed
    // unread; null serves every side.
    void setDialledSide(state::DialledSide *side) { dialled_ = side; }

signals:
    // Connections closed at once because the descriptors left are reserved.
    void refusedUnseen(std::size_t count);
    // A connection that came in over the dialled line, closed unread.
    void refusedDialled(const std::string &interfaceName);

protected:
    void incomingConnection(qintptr descriptor) override;
    // The doors before a byte is read: the dialled side and the reserved
    // descriptors. False when the descriptor was closed.
    bool admitDescriptor(qintptr descriptor);

private:
    int reserve_ = 0;
    state::DialledSide *dialled_ = nullptr;
};

class Transport : public QObject, private Session::Sink {
    Q_OBJECT
public:
    using LineHandler = std::function<void(Session &, const std::string &)>;
    using EndHandler = std::function<void(Session &)>;

    Transport(LineHandler onLine, EndHandler onEnd, QObject *parent = nullptr);
    ~Transport() override;

    // Listens on address:port; false with the system's reason.
    bool listen(const QHostAddress &address, int port, std::string *why = nullptr);
    // The same lines inside TLS on a port of their own, beside the plain one
    // or alone.
    bool listenTls(const QHostAddress &address, int port, std::shared_ptr<const TlsContext> context,
                   std::string *why = nullptr);
    // Both ports close.
    void stopListening();
    bool isListening() const { return listener_ != nullptr || tlsListener_ != nullptr; }
    // 0 when that port is not served.
    quint16 port() const;
    quint16 tlsPort() const;
    QHostAddress address() const;
    // Applies to the listener of the next listen() too.
    void setDialledSide(state::DialledSide *side);
    void setDescriptorReserve(int count) { reserve_ = count; }

    // A connection accepted; from now on the transport owns it, or closes it
    // at once when the bounds on strangers say so. Encrypted: it speaks TLS
    // from its first byte, with the context of listenTls.
    void accept(QTcpSocket *socket, bool encrypted = false);

    void setStrangerLimits(const StrangerLimits &limits) { strangers_.setLimits(limits); }
    StrangerGuard &strangers() { return strangers_; }
    // Sessions that have not logged in.
    std::size_t pendingCount() const;
    const std::vector<Session *> &sessions() const { return sessions_; }

    // The status tick's first step: strangers past their time go, and the
    // lines about refusals are told when due.
    void closeOverdueStrangers();
    // Every session closes.
    void closeAll();
    // Sessions paused by a full mailbox read on, after the tick.
    void resumePaused();

signals:
    // A line for the server's log: refusals.
    void notice(const std::string &text);

private:
    void lineFrom(Session &session, const std::string &line) override;
    void ended(Session *session) override;
    // The oldest stranger, preferring one that has sent nothing.
    Session *oldestStranger() const;
    void giveBackMemory();
    SessionListener *startListener(const QHostAddress &address, int port, bool encrypted, std::string *why);
    std::string dialledReport();

    LineHandler onLine_;
    EndHandler onEnd_;
    SessionListener *listener_ = nullptr;
    SessionListener *tlsListener_ = nullptr;
    std::shared_ptr<const TlsContext> tls_;
    state::DialledSide *dialled_ = nullptr;
    int reserve_ = 0;
    StrangerGuard strangers_;
    std::vector<Session *> sessions_;
    std::size_t peakSessions_ = 0;
    // Refused over the dialled line since the last report, and where.
    std::size_t dialledRefused_ = 0;
    std::string dialledInterface_;
    std::int64_t dialledReportedAt_ = -1;
};

}  // namespace velora::server::clientservice
