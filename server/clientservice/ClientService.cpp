#include "server/clientservice/ClientService.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <map>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "common/WireCodec.h"
#include "server/state/Shutdown.h"
#include "server/users/UserStore.h"

namespace velora::server::clientservice {

// ---------------------------------------------------------------- Session

Session::Session(QTcpSocket *socket, ClientService &service)
    : QObject(&service), socket_(socket), service_(service)
{
    socket_->setParent(this);
    // Push lines are small and due now; do not let them wait for an ACK.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    record.session = this;
    connect(socket_, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, [this] { service_.sessionEnded(this); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            service_.sessionEnded(this);
    });
}

Session::~Session() = default;

std::size_t Session::queuedBytes() const { return static_cast<std::size_t>(socket_->bytesToWrite()); }

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

void SessionListener::incomingConnection(qintptr descriptor)
{
    if (reserve_ > 0) {
        // The system hands out the lowest free number, so the number is at
        // least how many are open.
        rlimit r{};
        if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY &&
            static_cast<rlim_t>(descriptor) + static_cast<rlim_t>(reserve_) >= r.rlim_cur) {
            ::close(static_cast<int>(descriptor));
            emit refusedUnseen(1);
            return;
        }
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        delete socket;
        ::close(static_cast<int>(descriptor));
        return;
    }
    addPendingConnection(socket);
}

void Session::writeLine(const std::string &line)
{
    QByteArray framed;
    framed.reserve(static_cast<qsizetype>(line.size() + 2));
    framed.append(line.data(), static_cast<qsizetype>(line.size()));
    framed.append("\r\n", 2);
    writeFramed(framed);
}

void Session::writeFramed(const QByteArray &framed)
{
    if (closing_)
        return;
    socket_->write(framed);
    // A peer that stopped reading must not hold its unsent lines in our
    // memory forever, nor slow the others: let it go.
    if (queuedBytes() > MaxQueuedBytes)
        abort();
}

void Session::abort()
{
    if (closing_)
        return;
    closing_ = true;
    socket_->abort();
    service_.sessionEnded(this);
}

void Session::closeAfterWrite()
{
    if (closing_)
        return;
    closing_ = true;
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        service_.sessionEnded(this);
}

void Session::onReadyRead()
{
    // One chunk per turn of the event loop: a peer that never stops sending
    // must not keep the ticks and the other sessions waiting.
    if (closing_ || paused_ || socket_->bytesAvailable() <= 0)
        return;
    const QByteArray chunk = socket_->read(64 * 1024);
    std::vector<std::string> lines;
    const bool ok = framer_.feed(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())), lines);
    for (const auto &line : lines) {
        if (closing_)
            return;
        service_.handleLine(*this, line);
    }
    if (!ok) {
        abort();
        return;
    }
    // The rest on a later turn. After a pause the socket does not report
    // again what it reported before, so do not wait for it to.
    if (!closing_ && !paused_ && socket_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Session::onReadyRead, Qt::QueuedConnection);
}

void Session::resumeReading()
{
    if (!paused_)
        return;
    paused_ = false;
    onReadyRead();
}

// ---------------------------------------------------------- ClientService

ClientService::ClientService(state::ServerState &state, users::UserStore &users, state::Shutdown &shutdown,
                             std::function<int()> readShutdownMode, QObject *parent)
    : QObject(parent), state_(state), users_(users), shutdown_(shutdown),
      readShutdownMode_(std::move(readShutdownMode))
{
}

ClientService::~ClientService()
{
    for (Session *s : sessions_) {
        s->disconnect();
        s->socket()->disconnect();
    }
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

// A user name as a log line may show it: printable ASCII, not too long.
std::string loggable(const std::string &text)
{
    std::string out;
    for (const char c : text.substr(0, 64))
        out += c >= 0x20 && c < 0x7F ? c : '?';
    return out;
}
}  // namespace

void ClientService::accept(QTcpSocket *socket)
{
    const std::string peer = addressOf(*socket);
    std::size_t fromAddress = 0;
    for (const Session *s : sessions_)
        if (!s->isClosing() && s->peer == peer)
            ++fromAddress;
    if (!strangers_.admit(peer, pendingCount(), fromAddress)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    auto *session = new Session(socket, *this);
    session->peer = peer;
    session->acceptedAt = strangers_.now();
    sessions_.push_back(session);
}

std::size_t ClientService::pendingCount() const
{
    std::size_t n = 0;
    for (const Session *s : sessions_)
        if (!s->inList && !s->isClosing())
            ++n;
    return n;
}

void ClientService::closeOverdueStrangers()
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
    giveBackMemory();
}

void ClientService::giveBackMemory()
{
    // After a crowd has gone (a flood of strangers, the end of the day) the
    // allocator keeps the sessions' memory; hand it back to the system.
    peakSessions_ = std::max(peakSessions_, sessions_.size());
    if (peakSessions_ >= sessions_.size() + 64 && sessions_.size() * 2 <= peakSessions_) {
        ::malloc_trim(0);
        peakSessions_ = sessions_.size();
    }
}

void ClientService::addOwnRecord(const std::string &name, const std::string &address)
{
    if (own_)
        return;
    own_ = std::make_unique<TSimpleClient>();
    own_->ClientName = name;
    own_->Address = address;
    own_->LockState = "free";
    list_.insert(list_.begin(), own_.get());
}

void ClientService::goOffline()
{
    // Copy: each abort removes its session from the list.
    const auto sessions = sessions_;
    for (Session *s : sessions)
        s->abort();
    if (own_) {
        list_.erase(std::remove(list_.begin(), list_.end(), own_.get()), list_.end());
        own_.reset();
    }
}

void ClientService::sessionEnded(Session *session)
{
    const auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (it == sessions_.end())
        return;
    sessions_.erase(it);
    if (session->auditLeftOut > 0)
        emit commandHeard(session->record.UserName, session->record.ClientName, session->peer, "left out",
                          std::to_string(session->auditLeftOut) + " commands came too fast to be written");
    list_.erase(std::remove(list_.begin(), list_.end(), &session->record), list_.end());
    session->inList = false;
    session->socket()->disconnect(session);
    session->deleteLater();
}

// ------------------------------------------------------------- commands

void ClientService::handleLine(Session &session, const std::string &line)
{
    const auto f = wire::parseCommandLine(line);
    if (f.empty())
        return;
    if (session.loginHeld)
        return;
    const std::string &word = f[0];
    TSimpleClient &rec = session.record;
    if (word == "connect") {
        login(session, f);
    } else if (word == "stat") {
        state_.StatusChanged = 2;
    } else if (word == "trm") {
        rec.Alive = "1";
    } else if (word == "dial") {
        rec.StatusOwed = true;
        const bool free = state_.LockStatus == "free";
        heard(session, "dial", wire::at(f, 1) + (free ? "" : " (refused: the line is locked)"));
        if (dial_)
            dial_->setDialEntry(wire::at(f, 1));
        if (free && dial_)
            dial_->executedial(wire::at(f, 1), wire::at(f, 2));
    } else if (word == "hangup") {
        rec.StatusOwed = true;
        const bool free = state_.LockStatus == "free";
        heard(session, "hangup", free ? "" : "refused: the line is locked");
        if (free && dial_)
            dial_->executehangup();
    } else if (word == "lock") {
        setLock(rec, rec.LockState == "free");
        heard(session, rec.LockState == "free" ? "unlock" : "lock");
    } else if (word == "unlockall") {
        heard(session, "unlockall");
        for (TSimpleClient *r : list_)
            setLock(*r, false);
        state_.StatusChanged = 1;
    } else if (word == "shutdown") {
        heard(session, "shutdown");
        shutdownRequest(session.record.ClientName);
    } else if (word == "pesan") {
        if (deliverFromClient(wire::at(f, 1), wire::at(f, 2)))
            session.pauseReading();
    } else if (word == "bandwidth") {
        rec.MeterWanted = wire::at(f, 1) == "active";
    }
}

void ClientService::login(Session &session, const std::vector<std::string> &f)
{
    // An address that keeps guessing waits before its next guess is checked.
    const std::int64_t heldUntil = strangers_.loginHeldUntil(session.peer);
    if (heldUntil > 0) {
        session.loginHeld = true;
        const auto wait = std::chrono::milliseconds(std::max<std::int64_t>(1, heldUntil - strangers_.now()));
        QTimer::singleShot(wait, &session, [this, s = &session, f] {
            s->loginHeld = false;
            if (!s->isClosing())
                login(*s, f);
        });
        return;
    }
    TSimpleClient &rec = session.record;
    // Every client's status record carries these: one long name would make
    // everybody's push lines too long to read.
    rec.ClientName = wire::at(f, 1).substr(0, MaxClientNameBytes);
    rec.Address = wire::at(f, 2).substr(0, MaxAddressBytes);
    const users::LoginResult r = users_.check(wire::at(f, 3), wire::at(f, 4));
    switch (r.outcome) {
    case users::LoginResult::Outcome::Accepted:
        strangers_.loginSucceeded(session.peer);
        rec.UserName = wire::at(f, 3).substr(0, MaxClientNameBytes);
        session.writeLine(wire::buildLoginAccepted(r.record.description, r.record.unlockAll,
                                                   r.record.dialHangup, r.record.shutdown));
        if (!session.inList && !session.isClosing()) {
            list_.push_back(&rec);
            session.inList = true;
        }
        break;
    case users::LoginResult::Outcome::Refused:
        loginFailed(session, wire::at(f, 3), r.reason.c_str());
        session.writeLine(wire::buildLoginRefused(r.reason));
        session.closeAfterWrite();
        break;
    case users::LoginResult::Outcome::Malformed:
        loginFailed(session, wire::at(f, 3), "malformed password field");
        session.abort();
        break;
    }
}

void ClientService::loginFailed(Session &session, const std::string &user, const char *how)
{
    strangers_.loginFailed(session.peer);
    std::string text = "failed login from " + session.peer + " as \"" + loggable(user) + "\": " + how;
    if (const std::int64_t until = strangers_.loginHeldUntil(session.peer))
        text += "; its next login is checked in " + std::to_string((until - strangers_.now() + 999) / 1000) + " s";
    emit notice(text);
}

void ClientService::setLock(TSimpleClient &record, bool locking)
{
    if (locking && record.LockState != "locking")
        record.LockedSince = QDateTime::currentSecsSinceEpoch();
    else if (!locking)
        record.LockedSince = 0;
    record.LockState = locking ? "locking" : "free";
}

void ClientService::heard(Session &session, const std::string &action, const std::string &detail)
{
    const std::int64_t now = strangers_.now();
    if (session.auditTokens < 0) {
        session.auditTokens = AuditBurst;
        session.auditRefilledAt = now;
    }
    session.auditTokens = std::min<double>(AuditBurst, session.auditTokens + (now - session.auditRefilledAt) / 1000.0);
    session.auditRefilledAt = now;
    if (session.auditTokens < 1) {
        ++session.auditLeftOut;
        return;
    }
    session.auditTokens -= 1;
    // A name from the wire is the client's to choose: keep the row short.
    std::string text = detail.substr(0, 255);
    if (session.auditLeftOut > 0) {
        text += (text.empty() ? "" : "; ") + std::to_string(session.auditLeftOut) +
                " earlier commands of this connection came too fast to be written";
        session.auditLeftOut = 0;
    }
    emit commandHeard(session.record.UserName, session.record.ClientName, session.peer, action, text);
}

void ClientService::shutdownRequest(const std::string &asker)
{
    const int mode = readShutdownMode_ ? readShutdownMode_() : 0;
    state_.ShutdownFlags = state::shutdownFlagsFor(mode, state_.ShutdownFlags);
    if (!shutdown_.MyExitWindows(state_.ShutdownFlags)) {
        const std::string why = shutdown_.lastError();
        emit problem("A client asked to shut this computer down, but the system refused" +
                     (why.empty() ? std::string(".") : ": " + why));
        return;
    }
    // The operator sees who asked, whether the computer goes down or not.
    emit problem(asker + " asked to shut this computer down.");
}

// ------------------------------------------------------------------ chat

void ClientService::appendToMailbox(TSimpleClient &record, const std::string &message)
{
    record.Mailbox += message;
}

namespace {
// A record that lacks its closing separator would run into the next one in
// every mailbox it joins; close it.
std::string wholeRecord(const std::string &record)
{
    if (!record.empty() && record.back() == wire::RecordSep)
        return record;
    return record + wire::RecordSep;
}
}  // namespace

bool ClientService::deliverFromClient(const std::string &recipient, const std::string &record)
{
    const std::string m = wholeRecord(record);
    // No push line could carry it: every receiver's reader would refuse it.
    if (m.size() > MaxRecordBytes)
        return false;
    bool full = false;
    if (recipient == "All") {
        for (TSimpleClient *r : list_) {
            appendToMailbox(*r, m);
            if (r == own_.get())
                serverInbox_ = r->Mailbox;
            full = full || r->Mailbox.size() > MailboxHighWater;
        }
        if (!list_.empty())
            state_.StatusChanged = 1;
        return full;
    }
    for (TSimpleClient *r : list_) {
        if (r->Address != recipient)
            continue;
        appendToMailbox(*r, m);
        r->PushPending = true;
        if (r == own_.get())
            serverInbox_ = r->Mailbox;
        full = full || r->Mailbox.size() > MailboxHighWater;
    }
    return full;
}

void ClientService::pesanserver(const std::string &recipient, const std::string &record)
{
    const std::string m = wholeRecord(record);
    if (m.size() > MaxRecordBytes)
        return;
    bool matched = false;
    for (TSimpleClient *r : list_) {
        if (recipient == "All" || r->Address == recipient) {
            appendToMailbox(*r, m);
            matched = true;
        }
    }
    if (matched)
        state_.StatusChanged = 1;
}

// -------------------------------------------------------------- operator

void ClientService::operatorLock()
{
    if (!own_)
        return;
    setLock(*own_, true);
    operatorLockWord_ = "locking";
    emit operatorLockChanged(true);
}

void ClientService::operatorUnlock()
{
    if (!own_)
        return;
    setLock(*own_, false);
    operatorLockWord_ = "free";
    emit operatorLockChanged(false);
}

void ClientService::unlockAll()
{
    for (TSimpleClient *r : list_)
        setLock(*r, false);
}

// ------------------------------------------------------------ tick steps

void ClientService::updateLockStatus()
{
    state_.LockStatus = "free";
    for (const TSimpleClient *r : list_) {
        if (r->LockState == "locking") {
            state_.LockStatus = "locked";
            break;
        }
    }
}

void ClientService::buildClientLists()
{
    names_.clear();
    locks_.clear();
    addresses_.clear();
    for (const TSimpleClient *r : list_) {
        names_ += r->ClientName;
        names_ += wire::ListSep;
        locks_ += r->LockState;
        locks_ += wire::ListSep;
        addresses_ += r->Address;
        addresses_ += wire::ListSep;
    }
}

void ClientService::pollClients()
{
    if (state_.PollingMinutes != 0 && pollCount_ >= state_.PollingMinutes * 120) {
        std::vector<Session *> silent;
        for (TSimpleClient *r : list_)
            if (r->session && r->Alive == "0")
                silent.push_back(r->session);
        for (Session *s : silent)
            s->abort();
        for (TSimpleClient *r : list_)
            if (r->session)
                r->Alive = "0";
        state_.StatusChanged = 1;
        pollCount_ = 0;
    } else {
        ++pollCount_;
    }
}

void ClientService::markTrafficSubscribers()
{
    if (state_.ActiveStatus != "Connected")
        return;
    for (TSimpleClient *r : list_)
        if (r->session && r->MeterWanted)
            r->PushPending = true;
}

const std::string &ClientService::buildStatusRecordText()
{
    std::string &s = statusRecordText_;
    s.clear();
    static const std::string fixedTime = "0:0:0";
    for (const std::string *item : std::initializer_list<const std::string *>{&state_.StatusText, &fixedTime, &state_.ActiveEntry, &state_.LockStatus,
                                    &state_.ErrorNotice, &state_.SpeedValue, &state_.ActiveDevice,
                                    &state_.EntryListText, &names_, &locks_, &addresses_}) {
        s += *item;
        s += wire::ItemSep;
    }
    return s;
}

void ClientService::handOperatorInbox()
{
    if (!serverInbox_.empty())
        emit serverInboxReady(serverInbox_);
    if (own_)
        own_->Mailbox.clear();
    serverInbox_.clear();
}

void ClientService::updateOperatorLock()
{
    if (!list_.empty())
        operatorLockWord_ = list_.front()->LockState;
}

void ClientService::UpdateClientList()
{
    std::vector<ClientRow> rows;
    rows.reserve(list_.size());
    for (const TSimpleClient *r : list_)
        rows.push_back({r->ClientName, r->Address, r->LockState, r->LockedSince});
    emit clientListUpdated(rows);
}

void ClientService::Broadcastmessage()
{
    for (TSimpleClient *r : list_)
        if (r->session)
            r->PushPending = true;
}

const std::string &ClientService::trafficFor(const TSimpleClient &) const
{
    // Every push line carries the latest figures; an open meter only makes
    // the client pushed on every tick.
    return trafficText_;
}

void ClientService::writePushLines(Session &session, const std::string &status)
{
    TSimpleClient &rec = session.record;
    const std::string &traffic = trafficFor(rec);
    const std::size_t limit = LineFramer::MaxLineLength;
    const std::size_t fixed = status.size() + traffic.size() + 4;
    if (fixed + rec.Mailbox.size() <= limit) {
        session.writeLine(wire::buildPushLine(status, rec.Mailbox, traffic));
        rec.Mailbox.clear();
        return;
    }
    // Too much mail for one line: spread whole records over several lines,
    // the status record in the first only.
    std::string_view rest = rec.Mailbox;
    std::string_view statusPart = status;
    while (true) {
        const std::size_t budget = limit - std::min(limit, statusPart.size() + traffic.size() + 4);
        std::size_t take = 0;
        while (take < rest.size()) {
            std::size_t end = rest.find(wire::RecordSep, take);
            end = end == std::string_view::npos ? rest.size() : end + 1;
            if (end > budget) {
                // A record too big for any line still goes out whole, alone.
                if (take == 0 && statusPart.empty())
                    take = end;
                break;
            }
            take = end;
        }
        session.writeLine(wire::buildPushLine(statusPart, rest.substr(0, take), traffic));
        rest.remove_prefix(take);
        statusPart = {};
        if (rest.empty() || session.isClosing())
            break;
    }
    rec.Mailbox.clear();
}

void ClientService::sendclientdata()
{
    const std::string &shared = statusRecordText_;
    // Clients with an empty mailbox and the same lock word get the same
    // bytes: build them once and let the sockets share them.
    std::map<std::string, QByteArray> sameLine;
    // Copy: a write may close a session and shrink the list.
    const auto records = list_;
    for (TSimpleClient *r : records) {
        if (!r->session || !r->PushPending)
            continue;
        Session &s = *r->session;
        r->PushPending = false;
        const bool withStatus = statusFresh_ > 0 || r->StatusOwed;
        r->StatusOwed = false;
        if (s.isClosing())
            continue;
        if (r->Mailbox.empty()) {
            QByteArray &line = sameLine[(withStatus ? "s" : "-") + std::string(r->MeterWanted ? "m" : "-") + r->LockState];
            if (line.isEmpty()) {
                std::string text = wire::buildPushLine(
                    withStatus ? wire::buildStatusRecord(shared, r->LockState, std::to_string(state_.SecondsOnline))
                               : std::string(),
                    {}, trafficFor(*r));
                text += "\r\n";
                line = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
            }
            s.writeFramed(line);
            continue;
        }
        std::string status;
        if (withStatus)
            status = wire::buildStatusRecord(shared, r->LockState, std::to_string(state_.SecondsOnline));
        writePushLines(s, status);
    }
}

void ClientService::pushIfDue()
{
    const bool changed = statusRecordText_ != state_.LastStatusRecord;
    if (changed)
        statusFresh_ = 2;
    if (changed || state_.StatusChanged > 0) {
        UpdateClientList();
        Broadcastmessage();
    }
    for (TSimpleClient *r : list_)
        if (r->StatusOwed && r->session)
            r->PushPending = true;
    sendclientdata();
    state_.LastStatusRecord = statusRecordText_;
    if (changed)
        emit statusRecordChanged();
}

void ClientService::countdowns()
{
    if (state_.StatusChanged > 0)
        --state_.StatusChanged;
    if (statusFresh_ > 0)
        --statusFresh_;
}

void ClientService::runTickSteps()
{
    closeOverdueStrangers();
    updateLockStatus();
    buildClientLists();
    pollClients();
    markTrafficSubscribers();
    buildStatusRecordText();
    handOperatorInbox();
    updateOperatorLock();
    pushIfDue();
    countdowns();
    resumePausedSessions();
}

void ClientService::resumePausedSessions()
{
    // The mail that held them back has just gone out. Read on after the
    // tick, not inside it.
    for (Session *s : sessions_)
        if (s->isPaused())
            QTimer::singleShot(0, s, [s] { s->resumeReading(); });
}

}  // namespace velora::server::clientservice
