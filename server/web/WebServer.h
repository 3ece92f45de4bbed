#pragma once
// The web page, its JSON API and the metrics, on the main event loop over
// HTTPS. Every command goes through the client service's gate, with the
// browser as a caller whose audit rows name the host "web"; a login is a
// record of the client list ("user@web"). Live updates are Server-Sent
// Events: each status tick writes what changed to every open stream.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/log/UsageBook.h"
#include "server/web/WebListener.h"
#include "server/web/WebSessions.h"
#include "server/web/WebStatus.h"

class QTcpSocket;

namespace velora::server::state {
class DialledSide;
struct ServerState;
}  // namespace velora::server::state
namespace velora::server::clientservice {
class ClientService;
}
namespace velora::server::log {
class LogDatabase;
}

namespace velora::server::web {

struct WebParts {
    state::ServerState &state;
    clientservice::ClientService &clients;
    std::function<std::optional<std::int64_t>()> monthCost;
    // The log database while it is open; null otherwise.
    std::function<log::LogDatabase *()> log;
    // This billing cycle's bytes per computer and the cap; none when the
    // log cannot say.
    std::function<std::optional<log::CycleUsage>()> usage;
};

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit WebServer(WebParts parts, QObject *parent = nullptr);
    ~WebServer() override;

    // Serves address:port over TLS; false with the system's reason. The
    // dialled side (null: every side) and the descriptor reserve are the
    // client port's.
    bool start(const QHostAddress &address, int port, std::shared_ptr<const clientservice::TlsContext> tls,
               state::DialledSide *dialled, int descriptorReserve, std::int64_t handshakeMs, std::string *why);
    // Every stream and login ends.
    void stop();
    bool isServing() const { return listener_ != nullptr; }
    quint16 port() const;
    void setMetrics(bool on) { metrics_ = on; }

    // The status tick, after the client service's steps: streams hear what
    // changed, the pages their mail.
    void tick();
    // Bytes moved since the previous sample, as the meter shows them.
    void meterSample(std::uint64_t download, std::uint64_t upload);
    // The month's figures moved (a log row, a minute's booking): read anew.
    void figuresChanged() { figuresRead_ = false; }

    std::size_t streamCount() const { return streams_.size(); }
    WebSessions &sessions() { return sessions_; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Reply;
    struct Stream {
        QPointer<TlsSocket> socket;
        std::string token;
        QByteArray lastMe;
        // What this tick owes it, written at once.
        QByteArray pending;
    };
    std::int64_t now() const;
    LineFacts facts();
    void usageRows(Reply &reply);
    void route(const QHttpServerRequest &request, QTcpSocket *socket, Reply &reply);
    void login(const QHttpServerRequest &request, QTcpSocket *socket, Reply &reply);
    void command(const QHttpServerRequest &request, WebUser &user, const std::string &path, Reply &reply);
    void openStream(WebUser &user, QTcpSocket *socket);
    void logRows(const QHttpServerRequest &request, Reply &reply);
    void metrics(QTcpSocket *socket, Reply &reply);
    QByteArray meJson(const WebUser &user) const;
    QByteArray takeMessages(WebUser &user) const;
    void endStreamsOf(const std::string &token);

    WebParts parts_;
    WebSessions sessions_;
    WebListener *listener_ = nullptr;
    std::vector<Stream> streams_;
    QByteArray lastStatus_;
    // Meter events waiting for the next tick.
    QByteArray meter_;
    bool metrics_ = true;
    std::uint64_t bytesDown_ = 0, bytesUp_ = 0;
    std::int64_t lastBeat_ = 0;
    std::int64_t peersLookedAt_ = 0;
    // The month's cost and volume for the status and the metrics: read when
    // they moved, and at least once a minute, not on every tick.
    std::optional<std::int64_t> monthCost_;
    std::optional<log::CycleUsage> usage_;
    bool figuresRead_ = false;
    std::int64_t figuresReadAt_ = 0;
};

}  // namespace velora::server::web
