#include "server/web/WebServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrlQuery>
#include <map>

#include "common/CredentialCipher.h"
#include "common/TextCodec.h"
#include "common/WireCodec.h"
#include "server/clientservice/ClientService.h"
#include "server/log/LogDatabase.h"
#include "server/state/ServerState.h"
#include "server/web/TlsSocket.h"
#include "server/web/WebRequest.h"

namespace velora::server::web {

using namespace Qt::Literals::StringLiterals;

using Code = QHttpServerResponder::StatusCode;

struct WebServer::Reply {
    Code code = Code::Ok;
    QByteArray type = "application/json";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    // The socket became an event stream: no reply is written.
    bool taken = false;

    void json(const QJsonObject &o, Code c = Code::Ok)
    {
        code = c;
        body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    }
    void error(Code c, const QString &text) { json({{QStringLiteral("error"), text}}, c); }
};

namespace {

constexpr qint64 MaxStreamBacklog = 1 << 20;
constexpr std::int64_t BeatMs = 15'000;
// How soon a browser that left frees its stream's place.
constexpr std::int64_t LookAtPeersMs = 2'000;

}  // namespace

WebServer::WebServer(WebParts parts, QObject *parent)
    : QAbstractHttpServer(parent), parts_(std::move(parts)), sessions_(parts_.clients.push())
{
}

WebServer::~WebServer() { stop(); }

std::int64_t WebServer::now() const { return parts_.clients.strangers().now(); }

LineFacts WebServer::facts()
{
    if (!figuresRead_ || now() - figuresReadAt_ >= 60'000) {
        monthCost_ = parts_.monthCost ? parts_.monthCost() : std::nullopt;
        usage_ = parts_.usage ? parts_.usage() : std::nullopt;
        figuresRead_ = true;
        figuresReadAt_ = now();
    }
    LineFacts f{parts_.state, parts_.clients.clientList(), monthCost_, {}, 0};
    if (usage_) {
        f.monthBytes = usage_->used;
        f.monthBytesCap = usage_->cap;
    }
    return f;
}

bool WebServer::start(const QHostAddress &address, int port, std::shared_ptr<const clientservice::TlsContext> tls,
                      state::DialledSide *dialled, int descriptorReserve, std::int64_t handshakeMs, std::string *why)
{
    stop();
    WebLimits limits;
    limits.handshakeMs = handshakeMs;
    auto *listener = new WebListener(std::move(tls), limits, [this] { return now(); }, this);
    listener->setDialledSide(dialled);
    listener->setDescriptorReserve(descriptorReserve);
    if (port < 1 || port > 65535 || !listener->listen(address, static_cast<quint16>(port))) {
        if (why)
            *why = port < 1 || port > 65535 ? std::string("not a valid port number")
                                            : listener->errorString().toStdString();
        delete listener;
        return false;
    }
    // Refusals at the web port's doors count with the client port's.
    clientservice::StrangerGuard &strangers = parts_.clients.strangers();
    connect(listener, &clientservice::SessionListener::refusedDialled, this,
            [&strangers](const std::string &) { strangers.refusedDialled(); });
    connect(listener, &clientservice::SessionListener::refusedUnseen, this,
            [&strangers](std::size_t n) { strangers.refusedUnseen(n); });
    bind(listener);
    listener_ = listener;
    return true;
}

void WebServer::stop()
{
    for (Stream &s : streams_)
        if (s.socket)
            s.socket->abort();
    streams_.clear();
    sessions_.clear();
    lastStatus_.clear();
    delete listener_;
    listener_ = nullptr;
}

quint16 WebServer::port() const { return listener_ ? listener_->serverPort() : 0; }

void WebServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    makeResponder(request, socket).write(Code::NotFound);
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    if (listener_)
        listener_->requestSeen(socket);
    Reply reply;
    route(request, socket, reply);
    if (reply.taken)
        return true;
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(reply.code);
    responder.writeHeader("Content-Type", reply.type);
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'self'");
    for (const auto &[key, value] : reply.headers)
        responder.writeHeader(key, value);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeBody(reply.body);
    return true;
}

void WebServer::route(const QHttpServerRequest &request, QTcpSocket *socket, Reply &reply)
{
    const std::string path = request.url().path().toStdString();
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    if (!post && !get) {
        reply.error(Code::MethodNotAllowed, QStringLiteral("GET or POST only"));
        return;
    }
    if (path == "/metrics" && get) {
        metrics(socket, reply);
        return;
    }
    if (path.rfind("/api/", 0) != 0) {
        if (get)
            if (auto file = pageFile(path)) {
                reply.type = file->type;
                reply.body = std::move(file->body);
            } else {
                reply.error(Code::NotFound, QStringLiteral("no such page"));
            }
        else
            reply.error(Code::NotFound, QStringLiteral("no such page"));
        return;
    }
    if (path == "/api/login" && post) {
        login(request, socket, reply);
        return;
    }
    // Scripts send the token; the page's own calls carry the cookie and,
    // being POSTs, the token too: another site's page cannot read it.
    const std::string headerToken = header(request, "X-Velora-Token").toStdString();
    const std::string token = headerToken.empty() ? cookieToken(request) : headerToken;
    WebUser *user = sessions_.find(token, now());
    if (!user) {
        reply.error(Code::Unauthorized, QStringLiteral("log in first"));
        return;
    }
    if (post && headerToken != user->token) {
        reply.error(Code::Forbidden, QStringLiteral("a POST needs the X-Velora-Token header"));
        return;
    }
    if (get && path == "/api/status") {
        QJsonObject o = statusJson(facts());
        o[u"me"_s] = QJsonDocument::fromJson(meJson(*user)).object();
        reply.json(o);
    } else if (get && path == "/api/events") {
        if (listener_)
            listener_->becameStream(socket);
        openStream(*user, socket);
        reply.taken = true;
    } else if (get && path == "/api/log") {
        logRows(request, reply);
    } else if (get && path == "/api/usage") {
        usageRows(reply);
    } else if (post && path == "/api/logout") {
        const std::string gone = user->token;
        endStreamsOf(gone);
        sessions_.remove(gone);
        reply.headers.push_back({"Set-Cookie", "velora_session=; Max-Age=0; Path=/; HttpOnly; Secure; SameSite=Strict"});
        reply.json({{u"ok"_s, true}});
    } else if (post) {
        command(request, *user, path, reply);
    } else {
        reply.error(Code::NotFound, QStringLiteral("no such call"));
    }
}

void WebServer::login(const QHttpServerRequest &request, QTcpSocket *socket, Reply &reply)
{
    const QJsonObject in = QJsonDocument::fromJson(request.body()).object();
    const std::string name = wireOf(in[u"user"_s]);
    const std::string cipher = Encrypt(trimBlanks(wireOf(in[u"password"_s])));
    const std::string peer = socket->peerAddress().toString().toStdString();
    const clientservice::LoginCheck c = parts_.clients.gate().checkLogin(peer, name, cipher);
    if (c.answer == clientservice::LoginCheck::Answer::HeldBack) {
        reply.headers.push_back({"Retry-After", QByteArray::number((c.retryAfterMs + 999) / 1000)});
        reply.error(Code::TooManyRequests, QStringLiteral("too many failed logins from this address; try again later"));
        return;
    }
    if (c.answer != clientservice::LoginCheck::Answer::Accepted) {
        reply.error(Code::Unauthorized, QString::fromStdString(cp1252ToUtf8(c.reason)));
        return;
    }
    WebUser u;
    u.token = WebSessions::newToken();
    u.loginName = name;
    u.loginCipher = cipher;
    u.peer = peer;
    u.description = c.description;
    u.dialHangup = c.dialHangup == "1";
    u.unlockAll = c.unlockAll == "1";
    u.shutdown = c.shutdown == "1";
    u.record.ClientName = name.substr(0, clientservice::CommandGate::MaxClientNameBytes - 4) + "@web";
    u.record.Address = peer;
    u.record.UserName = name;
    sessions_.expire(now());
    const WebUser &user = sessions_.add(std::move(u), now());
    parts_.state.StatusChanged = 1;
    reply.headers.push_back({"Set-Cookie", "velora_session=" + QByteArray::fromStdString(user.token) +
                                               "; Path=/; HttpOnly; Secure; SameSite=Strict"});
    reply.json({{u"token"_s, QString::fromStdString(user.token)},
                {u"user"_s, QString::fromStdString(cp1252ToUtf8(name))},
                {u"privileges"_s, QJsonObject{{u"dialHangup"_s, user.dialHangup},
                                           {u"unlockAll"_s, user.unlockAll},
                                           {u"shutdown"_s, user.shutdown}}}});
}

void WebServer::command(const QHttpServerRequest &request, WebUser &user, const std::string &path, Reply &reply)
{
    const QJsonObject in = QJsonDocument::fromJson(request.body()).object();
    std::vector<std::string> fields;
    if (path == "/api/dial") {
        fields = {"dial", wireOf(in[u"entry"_s]), user.record.ClientName};
    } else if (path == "/api/hangup" || path == "/api/lock" || path == "/api/unlockall" || path == "/api/shutdown") {
        fields.push_back(path.substr(5));
    } else if (path == "/api/message") {
        const std::string to = wireOf(in[u"to"_s]);
        wire::MessageRecord m{user.record.Address, user.record.ClientName, {}};
        for (const QString &line : in[u"text"_s].toString().split(u'\n'))
            m.bodyLines.push_back(typedToWire(line.toStdString()));
        const std::string record = wire::buildMessageRecord(m);
        if (to.empty() || in[u"text"_s].toString().trimmed().isEmpty()) {
            reply.error(Code::BadRequest, QStringLiteral("a message needs \"to\" and \"text\""));
            return;
        }
        if (record.size() > clientservice::StatusPush::MaxRecordBytes) {
            reply.error(Code::PayloadTooLarge, QStringLiteral("the message is too long"));
            return;
        }
        fields = {"pesan", to, record};
    } else {
        reply.error(Code::NotFound, QStringLiteral("no such call"));
        return;
    }
    static const std::string host = "web";
    const clientservice::Caller caller{user.record, user.peer, user.loginName, user.loginCipher, host};
    const clientservice::Outcome out = parts_.clients.gate().command(caller, fields);
    if (out.verdict == clientservice::Verdict::Refused) {
        const bool locked = out.why == "refused: the line is locked";
        reply.error(locked ? Code::Conflict : Code::Forbidden, QString::fromStdString(out.why));
        return;
    }
    if (out.verdict == clientservice::Verdict::MailboxFull) {
        reply.error(Code::ServiceUnavailable, QStringLiteral("mail is waiting to be delivered; send again in a moment"));
        return;
    }
    reply.json({{u"ok"_s, true}});
}

QByteArray WebServer::meJson(const WebUser &user) const
{
    return QJsonDocument(QJsonObject{{u"name"_s, QString::fromStdString(cp1252ToUtf8(user.record.ClientName))},
                                     {u"address"_s, QString::fromStdString(user.record.Address)},
                                     {u"lock"_s, QString::fromStdString(state::toText(user.record.LockState))},
                                     {u"lockedSince"_s, static_cast<qint64>(user.record.LockedSince)},
                                     {u"privileges"_s, QJsonObject{{u"dialHangup"_s, user.dialHangup},
                                                                {u"unlockAll"_s, user.unlockAll},
                                                                {u"shutdown"_s, user.shutdown}}}})
        .toJson(QJsonDocument::Compact);
}

QByteArray WebServer::takeMessages(WebUser &user) const
{
    if (user.inbox.empty())
        return {};
    QJsonArray list;
    for (const wire::MessageRecord &m : wire::parseMessageRecords(user.inbox))
        list.append(QJsonObject{{u"from"_s, QString::fromStdString(cp1252ToUtf8(m.senderName))},
                                {u"address"_s, QString::fromStdString(cp1252ToUtf8(m.senderAddress))},
                                {u"text"_s, QString::fromStdString(cp1252ToUtf8(wire::bodyText(m)))}});
    user.inbox.clear();
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

void WebServer::openStream(WebUser &user, QTcpSocket *http)
{
    // Every socket of the web port is one of ours: from now on written at
    // once and read once a tick.
    auto *socket = static_cast<TlsSocket *>(http);
    socket->becomeStream();
    QByteArray head("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                    "X-Content-Type-Options: nosniff\r\nConnection: keep-alive\r\n\r\n");
    // Where the line stands now; changes follow from the ticks.
    if (lastStatus_.isEmpty())
        lastStatus_ = QJsonDocument(statusJson(facts())).toJson(QJsonDocument::Compact);
    Stream s{socket, user.token, meJson(user), {}};
    head += sseEvent("status", lastStatus_);
    head += sseEvent("me", s.lastMe);
    socket->write(head);
    ++user.streams;
    streams_.push_back(std::move(s));
}

void WebServer::endStreamsOf(const std::string &token)
{
    for (Stream &s : streams_)
        if (s.token == token && s.socket)
            s.socket->disconnectFromHost();
}

void WebServer::tick()
{
    if (!listener_)
        return;
    sessions_.collectMail();
    // Streams whose browser left, or that stopped reading, go. The event
    // loop does not watch streams: a browser that left is found here, by a
    // read of each every few seconds.
    const bool look = now() - peersLookedAt_ >= LookAtPeersMs;
    if (look)
        peersLookedAt_ = now();
    for (auto it = streams_.begin(); it != streams_.end();) {
        TlsSocket *socket = it->socket;
        if (socket && look)
            socket->readNow();
        const bool gone = !socket || socket->state() != QAbstractSocket::ConnectedState;
        if (!gone && socket->bytesToWrite() > MaxStreamBacklog)
            socket->abort();
        if (gone || !it->socket || it->socket->state() != QAbstractSocket::ConnectedState) {
            if (WebUser *u = sessions_.find(it->token, now()))
                --u->streams;
            it = streams_.erase(it);
        } else {
            ++it;
        }
    }
    sessions_.expire(now());
    if (streams_.empty()) {
        lastStatus_.clear();
        meter_.clear();
        return;
    }
    // A tick's events reach each stream in one write: each write to an
    // encrypted socket costs far more than its bytes.
    QByteArray shared;
    const QByteArray status = QJsonDocument(statusJson(facts())).toJson(QJsonDocument::Compact);
    if (status != lastStatus_) {
        lastStatus_ = status;
        shared += sseEvent("status", status);
    }
    shared += meter_;
    meter_.clear();
    const bool beat = now() - lastBeat_ >= BeatMs;
    if (beat) {
        lastBeat_ = now();
        shared += ": beat\n\n";
    }
    // Streams of one login share its record: its JSON is built once a tick.
    std::map<std::string, QByteArray> meOf;
    for (Stream &s : streams_) {
        WebUser *u = sessions_.find(s.token, now());
        if (!u) {
            s.socket->disconnectFromHost();
            continue;
        }
        s.pending.prepend(shared);
        QByteArray &me = meOf[s.token];
        if (me.isEmpty())
            me = meJson(*u);
        if (me != s.lastMe) {
            s.lastMe = me;
            s.pending += sseEvent("me", me);
        }
        if (const QByteArray mail = takeMessages(*u); !mail.isEmpty()) {
            // Every stream of that login shows it.
            const QByteArray event = sseEvent("message", mail);
            for (Stream &t : streams_)
                if (t.token == s.token)
                    t.pending += event;
        }
    }
    for (Stream &s : streams_) {
        if (!s.pending.isEmpty() && s.socket)
            s.socket->write(s.pending);
        s.pending.clear();
    }
}

void WebServer::meterSample(std::uint64_t download, std::uint64_t upload)
{
    bytesDown_ += download;
    bytesUp_ += upload;
    // Heard with the next tick's events.
    if (!streams_.empty())
        meter_ += sseEvent("meter", QByteArray("{\"download\":") + QByteArray::number(download) +
                                        ",\"upload\":" + QByteArray::number(upload) + "}");
}

void WebServer::logRows(const QHttpServerRequest &request, Reply &reply)
{
    log::LogDatabase *db = parts_.log ? parts_.log() : nullptr;
    if (!db) {
        reply.error(Code::ServiceUnavailable, QStringLiteral("the log is not open"));
        return;
    }
    const QUrlQuery q = request.query();
    bool monthOk = false, yearOk = false;
    const int month = q.queryItemValue(u"month"_s).toInt(&monthOk);
    const int year = q.queryItemValue(u"year"_s).toInt(&yearOk);
    log::LogFilter filter;
    if (q.hasQueryItem(u"month"_s)) {
        if (!monthOk || month < 1 || month > 12) {
            reply.error(Code::BadRequest, QStringLiteral("month is 1 to 12"));
            return;
        }
        filter.bulan = QStringLiteral("%1").arg(month, 2, 10, QChar(u'0')).toStdString();
    }
    if (q.hasQueryItem(u"year"_s)) {
        if (!yearOk || year < 0 || year > 9999) {
            reply.error(Code::BadRequest, QStringLiteral("year is a number such as 2024"));
            return;
        }
        filter.tahun = QStringLiteral("%1").arg(year % 100, 2, 10, QChar(u'0')).toStdString();
    }
    const auto rows = db->rows(filter, std::nullopt, 1000);
    const auto cost = db->costTenThousandths(filter);
    if (!rows || !cost) {
        reply.error(Code::InternalServerError, QStringLiteral("the log cannot be read"));
        return;
    }
    const auto text = [](const std::string &s) { return QString::fromStdString(cp1252ToUtf8(s)); };
    QJsonArray list;
    for (const log::LogRow &r : *rows)
        list.append(QJsonObject{{u"time"_s, text(r.waktu)},     {u"user"_s, text(r.usera)},
                                {u"entry"_s, text(r.entry)},    {u"duration"_s, text(r.duration)},
                                {u"date"_s, text(r.tanggal)},   {u"speed"_s, text(r.speed)}});
    reply.json({{u"rows"_s, list}, {u"cost"_s, costText(*cost)}});
}

void WebServer::usageRows(Reply &reply)
{
    const std::optional<log::CycleUsage> u = parts_.usage ? parts_.usage() : std::nullopt;
    if (!u) {
        reply.error(Code::ServiceUnavailable, QStringLiteral("the log is not open"));
        return;
    }
    const auto text = [](const std::string &s) { return QString::fromStdString(cp1252ToUtf8(s)); };
    QJsonArray list;
    for (const log::ComputerUsage &c : u->computers)
        list.append(QJsonObject{{u"address"_s, text(c.address)},
                                {u"name"_s, text(c.name)},
                                {u"bytesDown"_s, static_cast<qint64>(c.down)},
                                {u"bytesUp"_s, static_cast<qint64>(c.up)}});
    reply.json({{u"first"_s, u->cycle.first.toString(Qt::ISODate)},
                {u"last"_s, u->cycle.last.toString(Qt::ISODate)},
                {u"bytesUsed"_s, static_cast<qint64>(u->used)},
                {u"bytesCap"_s, static_cast<qint64>(u->cap)},
                {u"computers"_s, list}});
}

void WebServer::metrics(QTcpSocket *socket, Reply &reply)
{
    if (!metrics_ || !onLan(socket->peerAddress())) {
        reply.error(Code::NotFound, QStringLiteral("no such page"));
        return;
    }
    MetricFacts m = metricFacts(facts());
    m.bytesDown = bytesDown_;
    m.bytesUp = bytesUp_;
    m.refused = parts_.clients.strangers().refusedTotal() + (listener_ ? listener_->refusedTotal() : 0);
    reply.type = "text/plain; version=0.0.4; charset=utf-8";
    reply.body = QByteArray::fromStdString(metricsText(m));
}

}  // namespace velora::server::web
