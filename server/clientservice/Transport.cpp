#include "server/clientservice/Transport.h"

#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "server/state/DialledSide.h"

namespace velora::server::clientservice {

// ------------------------------------------------------- SessionListener

SessionListener::SessionListener(QObject *parent) : QTcpServer(parent)
{
    // An office turning its computers on at nine must not find the queue full.
    setListenBacklogSize(1024);
    // Out of file descriptors, the server stops accepting for good; try
    // again a little later, when sessions may have ended.
    connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        QTimer::singleShot(250, this, [this] {
            if (isListening())
                resumeAccepting();
        });
    });
}

std::string SessionListener::raiseDescriptorLimit()
{
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) != 0)
        return "cannot read the descriptor limit";
    if (r.rlim_cur >= r.rlim_max)
        return "descriptor limit " + std::to_string(r.rlim_cur);
    const rlim_t before = r.rlim_cur;
    r.rlim_cur = r.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &r) != 0)
        return "descriptor limit stays at " + std::to_string(before);
    return "descriptor limit raised from " + std::to_string(before) + " to " + std::to_string(r.rlim_cur);
}

bool SessionListener::admitDescriptor(qintptr descriptor)
{
    const int fd = static_cast<int>(descriptor);
    // Before a byte is read: the provider's side of the line is not the office.
    if (dialled_ && dialled_->isDialledSocket(fd)) {
        ::close(fd);
        emit refusedDialled(dialled_->lastInterface());
        return false;
    }
    if (reserve_ > 0) {
        // The system hands out the lowest free number, so the number is at
        // least how many are open.
        rlimit r{};
        if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY &&
            static_cast<rlim_t>(descriptor) + static_cast<rlim_t>(reserve_) >= r.rlim_cur) {
            ::close(fd);
            emit refusedUnseen(1);
            return false;
        }
    }
    return true;
}

void SessionListener::incomingConnection(qintptr descriptor)
{
    if (!admitDescriptor(descriptor))
        return;
    const int fd = static_cast<int>(descriptor);
    // TLS or not, a plain socket: the sessions of the TLS port do their
    // own TLS on it.
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        delete socket;
        ::close(fd);
        return;
    }
    addPendingConnection(socket);
}

// ------------------------------------------------------------- Transport

Transport::Transport(LineHandler onLine, EndHandler onEnd, QObject *parent)
    : QObject(parent), onLine_(std::move(onLine)), onEnd_(std::move(onEnd))
{
}

Transport::~Transport()
{
    for (Session *s : sessions_) {
        s->disconnect();
        s->socket()->disconnect();
    }
}

bool Transport::listen(const QHostAddress &address, int port, std::string *why)
{
    delete listener_;
    listener_ = startListener(address, port, false, why);
    return listener_ != nullptr;
}

bool Transport::listenTls(const QHostAddress &address, int port, std::shared_ptr<const TlsContext> context,
                          std::string *why)
{
    delete tlsListener_;
    tlsListener_ = nullptr;
    tls_ = std::move(context);
    if (!tls_) {
        if (why)
            *why = "no key and certificate";
        return false;
    }
    tlsListener_ = startListener(address, port, true, why);
    return tlsListener_ != nullptr;
}

SessionListener *Transport::startListener(const QHostAddress &address, int port, bool encrypted, std::string *why)
{
    auto *listener = new SessionListener(this);
    listener->setDescriptorReserve(reserve_);
    listener->setDialledSide(dialled_);
    if (port < 0 || port > 65535 || !listener->listen(address, static_cast<quint16>(port))) {
        if (why)
            *why = port < 0 || port > 65535 ? std::string("not a valid port number")
                                            : listener->errorString().toStdString();
        delete listener;
        return nullptr;
    }
    connect(listener, &SessionListener::refusedUnseen, this,
            [this](std::size_t n) { strangers_.refusedUnseen(n); });
    connect(listener, &SessionListener::refusedDialled, this, [this](const std::string &name) {
        strangers_.refusedDialled();
        ++dialledRefused_;
        dialledInterface_ = name;
    });
    connect(listener, &QTcpServer::newConnection, this, [this, listener, encrypted] {
        while (listener->hasPendingConnections())
            accept(listener->nextPendingConnection(), encrypted);
    });
    return listener;
}

void Transport::stopListening()
{
    for (SessionListener **l : {&listener_, &tlsListener_}) {
        if (!*l)
            continue;
        (*l)->close();
        delete *l;
        *l = nullptr;
    }
}

quint16 Transport::port() const { return listener_ ? listener_->serverPort() : 0; }

quint16 Transport::tlsPort() const { return tlsListener_ ? tlsListener_->serverPort() : 0; }

QHostAddress Transport::address() const
{
    const SessionListener *l = listener_ ? listener_ : tlsListener_;
    return l ? l->serverAddress() : QHostAddress();
}

void Transport::setDialledSide(state::DialledSide *side)
{
    dialled_ = side;
    for (SessionListener *l : {listener_, tlsListener_})
        if (l)
            l->setDialledSide(side);
}

namespace {
std::string addressOf(const QTcpSocket &socket)
{
    QHostAddress a = socket.peerAddress();
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    if (isV4)
        a = QHostAddress(v4);
    return a.toString().toStdString();
}
}  // namespace

void Transport::accept(QTcpSocket *socket, bool encrypted)
{
    const std::string peer = addressOf(*socket);
    std::size_t fromAddress = 0;
    for (const Session *s : sessions_)
        if (!s->isClosing() && s->peer == peer)
            ++fromAddress;
    switch (strangers_.admit(peer, pendingCount(), fromAddress)) {
    case StrangerGuard::Admission::Refuse:
        socket->abort();
        socket->deleteLater();
        return;
    case StrangerGuard::Admission::AdmitAfterEvicting:
        if (Session *old = oldestStranger()) {
            strangers_.evicted(old->peer);
            old->abort();
        }
        break;
    case StrangerGuard::Admission::Admit:
        break;
    }
    auto *session = new Session(socket, *this, this);
    session->peer = peer;
    session->acceptedAt = strangers_.now();
    sessions_.push_back(session);
    if (encrypted) {
        if (tls_)
            session->startEncryption(*tls_);
        else
            session->abort();
        return;
    }
    // A login sent with the connect is read now, before a crowd of newer
    // strangers could push this one out.
    session->readNow();
}

Session *Transport::oldestStranger() const
{
    Session *silent = nullptr;
    Session *any = nullptr;
    for (Session *s : sessions_) {
        if (s->inList || s->isClosing())
            continue;
        if (!any)
            any = s;
        if (!s->heardFrom && !s->loginHeld) {
            silent = s;
            break;
        }
    }
    return silent ? silent : any;
}

std::size_t Transport::pendingCount() const
{
    std::size_t n = 0;
    for (const Session *s : sessions_)
        if (!s->inList && !s->isClosing())
            ++n;
    return n;
}

void Transport::closeOverdueStrangers()
{
    std::vector<Session *> overdue;
    for (Session *s : sessions_)
        if (!s->inList && !s->isClosing() && strangers_.overdue(s->acceptedAt))
            overdue.push_back(s);
    for (Session *s : overdue)
        s->abort();
    const std::string report = strangers_.refusedReport();
    if (!report.empty())
        emit notice(report);
    const std::string dialled = dialledReport();
    if (!dialled.empty())
        emit notice(dialled);
    giveBackMemory();
}

std::string Transport::dialledReport()
{
    // Told once a burst is over, at most once a minute.
    static constexpr std::int64_t Interval = StrangerGuard::ReportIntervalMs;
    if (dialledRefused_ == 0)
        return {};
    const std::int64_t t = strangers_.now();
    if (dialledReportedAt_ >= 0 && t - dialledReportedAt_ < Interval)
        return {};
    const std::string text = "refused " + std::to_string(dialledRefused_) + " connection" +
                             (dialledRefused_ == 1 ? "" : "s") + " that came in over the dialled line (" +
                             dialledInterface_ + ")";
    dialledRefused_ = 0;
    dialledReportedAt_ = t;
    return text;
}

void Transport::giveBackMemory()
{
    // After a crowd has gone (a flood of strangers, the end of the day) the
    // allocator keeps the sessions' memory; hand it back to the system.
    peakSessions_ = std::max(peakSessions_, sessions_.size());
    if (peakSessions_ >= sessions_.size() + 64 && sessions_.size() * 2 <= peakSessions_) {
        ::malloc_trim(0);
        peakSessions_ = sessions_.size();
    }
}

void Transport::closeAll()
{
    // Copy: each abort removes its session from the list.
    const auto sessions = sessions_;
    for (Session *s : sessions)
        s->abort();
}

void Transport::resumePaused()
{
    // The mail that held them back has just gone out. Read on after the
    // tick, not inside it.
    for (Session *s : sessions_)
        if (s->isPaused())
            QTimer::singleShot(0, s, [s] { s->resumeReading(); });
}

void Transport::lineFrom(Session &session, const std::string &line)
{
    if (onLine_)
        onLine_(session, line);
}

void Transport::ended(Session *session)
{
    const auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (it == sessions_.end())
        return;
    sessions_.erase(it);
    if (onEnd_)
        onEnd_(*session);
    session->inList = false;
    session->socket()->disconnect(session);
    session->deleteLater();
}

}  // namespace velora::server::clientservice
