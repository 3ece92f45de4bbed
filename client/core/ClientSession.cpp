#include "client/core/ClientSession.h"

#include "client/core/MeterFeed.h"

#include <algorithm>

#include <QHostAddress>
#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>

#include "client/core/SavedLogin.h"
#include "client/core/ServerPins.h"
#include "client/core/WireText.h"
#include "common/CredentialCipher.h"
#include "common/TextCodec.h"

namespace velora::client::core {

namespace {
// How long one turn of the event loop may spend handing on a backlog.
constexpr qint64 DrainBudgetMs = 4;
const std::string TrmLine = wire::terminated(wire::buildCommandLine("trm"));
}  // namespace

ClientSession::ClientSession(ClientSettings &settings, QObject *parent)
    : QObject(parent), settings_(settings), socket_(new QSslSocket(this))
{
    pollTimer_.setInterval(100);
    handshakeTimer_.setSingleShot(true);
    handshakeTimer_.setInterval(DefaultHandshakeTimeoutMs);
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(DefaultConnectTimeoutMs);
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.setInterval(ReconnectDelayMs);
    retryTimer_.setSingleShot(true);

    connect(&pollTimer_, &QTimer::timeout, this, &ClientSession::pollTick);
    connect(&handshakeTimer_, &QTimer::timeout, this, &ClientSession::handshakeTimeout);
    connect(&connectTimer_, &QTimer::timeout, this, &ClientSession::connectTimeout);
    connect(&reconnectTimer_, &QTimer::timeout, this, &ClientSession::reconnectTick);
    connect(&retryTimer_, &QTimer::timeout, this, &ClientSession::retryTick);
    connect(socket_, &QTcpSocket::connected, this, &ClientSession::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &ClientSession::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &ClientSession::onSocketError);
    connect(socket_, &QTcpSocket::disconnected, this, &ClientSession::onSocketDisconnected);
    connect(socket_, &QSslSocket::encrypted, this, &ClientSession::onEncrypted);
    // No authority vouches for an office's server: its certificate is
    // checked against the pinned fingerprint instead, once TLS is up.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket_->setSslConfiguration(tls);
}

ClientSession::~ClientSession()
{
    socket_->disconnect(this);
    socket_->abort();
}

bool ClientSession::activatecfg(QString *error)
{
    const auto applied = settings_.activatecfg(error);
    if (!applied)
        return false;
    applySettings(*applied);
    return true;
}

void ClientSession::applySettings(const AppliedSettings &applied)
{
    applied_ = applied;
    pollTimer_.setInterval(applied.pollIntervalMs);
}

void ClientSession::setTypedLogin(std::string user, std::string password)
{
    typedUser_ = std::move(user);
    typedPassword_ = std::move(password);
}

void ClientSession::setFixedLogin(std::string user, std::string password)
{
    fixedLogin_ = true;
    setTypedLogin(std::move(user), std::move(password));
}

bool ClientSession::hasLogin() const
{
    if (fixedLogin_ || !trimBlanks(typedUser_).empty())
        return true;
    SavedLogin saved(settings_.savedLoginFile());
    if (!saved.load())
        return true;
    bool corrupt = false;
    const auto remembered = saved.remembered(&corrupt);
    return corrupt || (remembered && !trimBlanks(remembered->user).empty());
}

bool ClientSession::isOpen() const
{
    return socket_->state() == QAbstractSocket::ConnectedState;
}

void ClientSession::executeconnect(int flag)
{
    if (isOpen() && meterActive && meterActive())
        sendLine(meterSubscriptionLine(true));
    if (state_ != State::Disconnected)
        return;
    // An empty user name would only be refused, and counted against this
    // computer's address by the server.
    if (!hasLogin()) {
        stopRetrying();
        emit loginNeeded();
        return;
    }
    retryTimer_.stop();
    wantConnected_ = flag;
    state_ = State::Connecting;
    framer_.reset();
    pending_.clear();
    pendingPos_ = 0;
    connectTimer_.start();
    if (applied_.encrypted)
        socket_->connectToHostEncrypted(shownText(applied_.host), applied_.tlsPort);
    else
        socket_->connectToHost(shownText(applied_.host), applied_.port);
}

void ClientSession::executedisconnect(int flag)
{
    wantConnected_ = flag;
    if (flag != 1)
        stopRetrying();
    if (state_ == State::Disconnected)
        return;
    // What was written goes to the kernel first; the reset then closes the
    // socket, so no close event can arrive while the state is still open.
    if (socket_->state() == QAbstractSocket::ConnectedState)
        socket_->flush();
    enterDisconnected();
}

void ClientSession::enterDisconnected()
{
    if (resetting_ || state_ == State::Disconnected)
        return;
    resetting_ = true;
    state_ = State::Disconnected;
    pollTimer_.stop();
    handshakeTimer_.stop();
    connectTimer_.stop();
    pending_.clear();
    pendingPos_ = 0;
    if (socket_->state() != QAbstractSocket::UnconnectedState)
        socket_->abort();
    framer_.reset();
    privileges_ = Privileges{};
    resetting_ = false;
    emit disconnectedState();
}

void ClientSession::onConnected()
{
    if (state_ != State::Connecting) {
        connectTimer_.stop();
        socket_->abort();
        return;
    }
    // Inside TLS nothing goes out before the certificate is checked.
    if (applied_.encrypted)
        return;
    connectTimer_.stop();
    sendLogin();
}

void ClientSession::onEncrypted()
{
    connectTimer_.stop();
    if (state_ != State::Connecting) {
        socket_->abort();
        return;
    }
    const std::string presented = certificateFingerprint(socket_->peerCertificate());
    const ServerPins pins(settings_.pinFile());
    const int port = applied_.tlsPort;
    const std::string trusted = fixedFingerprint_.empty() ? pins.pinned(applied_.host, port).value_or(std::string())
                                                          : fixedFingerprint_;
    if (!trusted.empty() && trusted != presented) {
        enterDisconnected();
        emit fingerprintRefused(QString::fromStdString(trusted), QString::fromStdString(presented),
                                fixedFingerprint_.empty() ? pins.path() : QString());
        return;
    }
    if (trusted.empty()) {
        const bool yes = trustFirstUse && trustFirstUse(presented);
        // The question may have taken a while: the connection may be gone.
        if (state_ != State::Connecting || !isOpen()) {
            enterDisconnected();
            return;
        }
        if (!yes) {
            enterDisconnected();
            emit fingerprintNotTrusted(QString::fromStdString(presented));
            return;
        }
        QString why;
        if (!pins.pin(applied_.host, port, presented, &why))
            qWarning("velora-client: the fingerprint is trusted for this connection only: %s", qPrintable(why));
    }
    sendLogin();
}

void ClientSession::sendLogin()
{
    state_ = State::LoggingIn;

    localHostName_ = wireText(QHostInfo::localHostName());
    QHostAddress local = socket_->localAddress();
    bool isV4 = false;
    const quint32 v4 = local.toIPv4Address(&isV4);
    if (isV4)
        local = QHostAddress(v4);
    localAddress_ = wireText(local.toString());

    emit loginStarted();
    if (state_ != State::LoggingIn)
        return;

    LoginCredentials creds{typedUser_, typedPassword_};
    bool corrupt = false;
    if (!fixedLogin_) {
        SavedLogin saved(settings_.savedLoginFile());
        if (!saved.load())
            corrupt = true;
        else if (auto remembered = saved.remembered(&corrupt))
            creds = *remembered;
        typedUser_.clear();
        typedPassword_.clear();
    }
    lastLogin_ = creds;
    if (corrupt) {
        enterDisconnected();
        emit loginFailed();
        return;
    }

    sendLine(wire::buildCommandLine(
        "connect", {localHostName_, localAddress_, sanitizeTyped(trimBlanks(creds.user)),
                    Encrypt(trimBlanks(creds.password))}));
    handshakeTimer_.start();
}

void ClientSession::onReadyRead()
{
    const QByteArray chunk = socket_->readAll();
    std::vector<std::string> lines;
    const bool ok = framer_.feed(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())), lines);
    for (auto &l : lines)
        pending_.push_back(std::move(l));
    drain();
    if (!ok && state_ != State::Disconnected) {
        // A line beyond any sane length: the stream cannot be framed any more.
        drain(true);
        const bool wasLoggingIn = state_ == State::LoggingIn;
        enterDisconnected();
        if (wasLoggingIn)
            emit handshakeFailed();
    }
}

void ClientSession::drain(bool unbounded)
{
    QElapsedTimer clock;
    clock.start();
    std::optional<wire::StatusRecord> status;
    std::vector<wire::MessageRecord> messages;
    std::optional<std::vector<std::string>> traffic;
    std::string answers;

    while (pendingPos_ < pending_.size()) {
        if (state_ == State::LoggingIn) {
            const std::string line = trimBlanks(pending_[pendingPos_++]);
            if (!line.empty())
                handleLoginReply(line);
            continue;
        }
        if (state_ != State::InSession)
            return;
        if (!unbounded && clock.elapsed() >= DrainBudgetMs)
            break;
        const std::string line = trimBlanks(pending_[pendingPos_++]);
        if (line.empty())
            continue;
        answers += TrmLine;
        wire::PushLine p = wire::parsePushLine(line);
        // Only the newest status matters to the view; every message counts.
        if (p.hasStatus)
            status = std::move(p.status);
        for (auto &m : p.messages)
            messages.push_back(std::move(m));
        if (!p.traffic.empty() && pollCounter_ % 2 == 0)
            traffic = std::move(p.traffic);
    }

    if (pendingPos_ >= pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    } else if (pendingPos_ > 4096) {
        // Let go of what was handed on while a long backlog remains.
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_));
        pendingPos_ = 0;
    }
    if (pendingPos_ < pending_.size() && !drainScheduled_) {
        drainScheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            drainScheduled_ = false;
            drain();
        });
    }

    if (!answers.empty() && isOpen())
        socket_->write(answers.data(), static_cast<qint64>(answers.size()));
    if (status)
        emit statusReceived(*status);
    if (!messages.empty() && state_ == State::InSession)
        emit messagesReceived(messages);
    if (traffic && state_ == State::InSession)
        emit trafficReceived(wire::at(*traffic, 0), wire::at(*traffic, 1));
}

void ClientSession::handleLoginReply(const std::string &line)
{
    handshakeTimer_.stop();
    const wire::LoginReply reply = wire::parseLoginReply(line);
    switch (reply.kind) {
    case wire::LoginReply::Kind::Accepted:
        state_ = State::InSession;
        privileges_.unlockAll = reply.unlockAllPrivilege;
        privileges_.serverVersion = reply.serverVersion;
        privileges_.dialHangup = reply.dialHangupPrivilege;
        privileges_.shutdown = reply.shutdownPrivilege;
        pollTimer_.start();
        retrying_ = false;
        retryDelayMs_ = RetryFirstMs;
        sendLine(wire::buildCommandLine("stat"));
        emit loginAccepted();
        break;
    case wire::LoginReply::Kind::Refused:
        executedisconnect(0);
        emit loginRefused(reply.reason);
        break;
    case wire::LoginReply::Kind::Invalid:
        enterDisconnected();
        emit handshakeFailed();
        break;
    }
}

void ClientSession::onSocketError()
{
    if (state_ == State::Connecting) {
        connectTimer_.stop();
        const QString reason = socket_->errorString();
        state_ = State::Disconnected;
        socket_->abort();
        emit connectFailed(reason);
        if (retrying_)
            scheduleRetry();
        return;
    }
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        onSocketDisconnected();
}

void ClientSession::onSocketDisconnected()
{
    // The close can be reported before the bytes that came with it.
    if (socket_->bytesAvailable() > 0 && (state_ == State::LoggingIn || state_ == State::InSession))
        onReadyRead();
    if (state_ == State::InSession) {
        // What arrived before the close is still handed on.
        drain(true);
        lose();
    } else if (state_ == State::LoggingIn) {
        enterDisconnected();
        emit handshakeFailed();
    }
}

void ClientSession::pollTick()
{
    pollCounter_ = pollCounter_ >= 10 ? 0 : pollCounter_ + 1;
    if (state_ == State::InSession && !isOpen())
        lose();
}

void ClientSession::lose()
{
    const QString reason = socket_->error() == QAbstractSocket::RemoteHostClosedError ||
                                   socket_->error() == QAbstractSocket::UnknownSocketError
                               ? QStringLiteral("the server closed the connection")
                               : socket_->errorString();
    enterDisconnected();
    emit connectionLost(reason);
    scheduleRetry();
}

void ClientSession::scheduleRetry()
{
    if (wantConnected_ != 1 || !settings_.reconnectAutomatically()) {
        stopRetrying();
        return;
    }
    retrying_ = true;
    const int delay = retryDelayMs_;
    retryDelayMs_ = std::min(2 * retryDelayMs_, RetryMaxMs);
    retryTimer_.start(delay);
    emit retryScheduled(delay / 1000);
}

void ClientSession::stopRetrying()
{
    retryTimer_.stop();
    retrying_ = false;
    retryDelayMs_ = RetryFirstMs;
}

void ClientSession::retryTick()
{
    retryTimer_.stop();
    if (!retrying_ || wantConnected_ != 1 || state_ != State::Disconnected)
        return;
    // A login typed for the lost session goes out again; a remembered one wins anyway.
    if (!hasLogin())
        setTypedLogin(lastLogin_.user, lastLogin_.password);
    if (activatecfg())
        executeconnect(1);
    else
        stopRetrying();
}

void ClientSession::handshakeTimeout()
{
    if (state_ != State::LoggingIn)
        return;
    enterDisconnected();
    emit handshakeFailed();
}

void ClientSession::connectTimeout()
{
    if (state_ != State::Connecting)
        return;
    state_ = State::Disconnected;
    socket_->abort();
    emit connectFailed(QStringLiteral("the server did not answer within %1 s")
                           .arg(connectTimer_.interval() / 1000));
    if (retrying_)
        scheduleRetry();
}

void ClientSession::reconnectTick()
{
    reconnectTimer_.stop();
    // The suspend closed the line. If the person has connected or disconnected
    // since, that choice stands: redoing it would drop a fresh session (and its
    // lock) or open one that was just refused.
    if (wantConnected_ != 1 || state_ != State::Disconnected)
        return;
    if (activatecfg())
        executeconnect(1);
}

void ClientSession::systemSuspending()
{
    reconnectTimer_.stop();
    // The resume has its own reconnection.
    stopRetrying();
    executedisconnect(wantConnected_);
}

void ClientSession::systemResumed()
{
    if (wantConnected_ == 1)
        reconnectTimer_.start();
}

bool ClientSession::sendLine(const std::string &line)
{
    if (!isOpen())
        return false;
    const std::string bytes = wire::terminated(line);
    return socket_->write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
}

bool ClientSession::sendDial(const std::string &entry)
{
    return sendLine(wire::buildCommandLine("dial", {sanitizeTyped(entry), localHostName_}));
}

bool ClientSession::sendHangup() { return sendLine(wire::buildCommandLine("hangup", {localHostName_})); }
bool ClientSession::sendLock() { return sendLine(wire::buildCommandLine("lock")); }
bool ClientSession::sendUnlockAll() { return sendLine(wire::buildCommandLine("unlockall")); }
bool ClientSession::sendShutdown() { return sendLine(wire::buildCommandLine("shutdown")); }

bool ClientSession::sendMessage(const std::string &recipient, const std::string &record)
{
    return sendLine(wire::buildCommandLine("pesan", {recipient, record}));
}

}  // namespace velora::client::core
