#include "server/web/TlsSocket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velora::server::web {

namespace {

// A peer that stopped reading with this much still unsent is not waited
// for when its connection ends, nor longer than this.
constexpr qsizetype ClosingBacklog = 64 * 1024;
constexpr int ClosingWaitMs = 10'000;
constexpr std::size_t ReadChunkBytes = 16 * 1024;

bool endpoint(int fd, bool peer, QHostAddress &address, quint16 &port)
{
    sockaddr_storage s{};
    socklen_t length = sizeof s;
    auto *sa = reinterpret_cast<sockaddr *>(&s);
    if ((peer ? ::getpeername(fd, sa, &length) : ::getsockname(fd, sa, &length)) != 0)
        return false;
    if (s.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&s)->sin6_port);
    else if (s.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in *>(&s)->sin_port);
    else
        return false;
    address = QHostAddress(sa);
    return true;
}

bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

}  // namespace

TlsSocket::TlsSocket(qintptr descriptor, const clientservice::TlsContext &context, qint64 readAhead, QObject *parent)
    : QTcpSocket(parent), fd_(static_cast<int>(descriptor)), tls_(context), readAhead_(readAhead)
{
    QHostAddress peer, local;
    quint16 peerPort = 0, localPort = 0;
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0 || !endpoint(fd_, true, peer, peerPort) ||
        !endpoint(fd_, false, local, localPort)) {
        closeDescriptor();
        return;
    }
    // A response is written in pieces but goes out as one record, and an
    // event is due now: neither should wait for an ACK.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setPeerAddress(peer);
    setPeerPort(peerPort);
    setLocalAddress(local);
    setLocalPort(localPort);
    setSocketState(QAbstractSocket::ConnectedState);
    QIODevice::open(QIODevice::ReadWrite);
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &TlsSocket::readPlain);
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &TlsSocket::sendBacklog);
}

TlsSocket::~TlsSocket()
{
    closeDescriptor();
    // Those who hold it (the HTTP server's connection) hear it went, as
    // from any socket deleted while connected.
    if (state() != QAbstractSocket::UnconnectedState) {
        setSocketState(QAbstractSocket::UnconnectedState);
        emit disconnected();
    }
}

qint64 TlsSocket::bytesAvailable() const { return QIODevice::bytesAvailable() + decrypted_.size(); }

qint64 TlsSocket::bytesToWrite() const { return backlog_.size() - backlogSent_ + unsent_.size(); }

void TlsSocket::readNow() { readPlain(); }

void TlsSocket::becomeStream()
{
    stream_ = true;
    if (readNotifier_)
        readNotifier_->setEnabled(false);
}

void TlsSocket::readPlain()
{
    if (fd_ < 0 || state() != QAbstractSocket::ConnectedState)
        return;
    const bool wasEstablished = tls_.isEstablished();
    const qsizetype before = decrypted_.size();
    static thread_local std::vector<char> raw(ReadChunkBytes);
    bool peerClosed = false;
    bool closeNotify = false;
    bool failed = false;
    full_ = false;
    for (;;) {
        if (decrypted_.size() >= readAhead_) {
            // The rest once the HTTP server has read this (readData).
            full_ = true;
            break;
        }
        const ssize_t n = ::recv(fd_, raw.data(), raw.size(), MSG_DONTWAIT);
        if (n < 0 && wouldBlock(errno)) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (n <= 0) {
            // The peer went (end of file) or reset the connection.
            failed = n < 0;
            peerClosed = true;
            break;
        }
        const auto outcome = tls_.receive(std::string_view(raw.data(), static_cast<std::size_t>(n)), decrypted_);
        // The handshake's answer, or the alert that says why not.
        sendOut();
        if (outcome == clientservice::TlsChannel::Outcome::Failed) {
            failed = true;
            break;
        }
        if (outcome == clientservice::TlsChannel::Outcome::Closed) {
            closeNotify = true;
            break;
        }
        // A short read took all there was; the notifier tells of more.
        if (static_cast<std::size_t>(n) < raw.size())
            break;
    }
    if (failed) {
        abort();
        return;
    }
    if (readNotifier_ && !stream_ && state() == QAbstractSocket::ConnectedState)
        readNotifier_->setEnabled(!full_);
    if (!wasEstablished && tls_.isEstablished())
        emit encrypted();
    if (decrypted_.size() > before)
        emit readyRead();
    // After close_notify what is owed still goes out; after the end of the
    // stream there is no one to send it to.
    if (closeNotify)
        disconnectFromHost();
    else if (peerClosed)
        ended();
}

qint64 TlsSocket::readData(char *data, qint64 maxSize)
{
    if (decrypted_.isEmpty())
        return state() == QAbstractSocket::UnconnectedState ? -1 : 0;
    const qint64 n = std::min<qint64>(maxSize, decrypted_.size());
    std::memcpy(data, decrypted_.constData(), static_cast<std::size_t>(n));
    decrypted_.remove(0, n);
    if (full_ && decrypted_.size() < readAhead_) {
        full_ = false;
        if (readNotifier_ && !stream_ && state() == QAbstractSocket::ConnectedState)
            readNotifier_->setEnabled(true);
    }
    return n;
}

qint64 TlsSocket::skipData(qint64 maxSize) { return QIODevice::skipData(maxSize); }

qint64 TlsSocket::writeData(const char *data, qint64 size)
{
    if (fd_ < 0 || state() != QAbstractSocket::ConnectedState)
        return -1;
    unsent_.append(data, size);
    if (stream_) {
        flush();
    } else if (!flushQueued_) {
        // The rest of the response joins it in one record, this turn.
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &TlsSocket::flush, Qt::QueuedConnection);
    }
    return size;
}

bool TlsSocket::flush()
{
    flushQueued_ = false;
    if (unsent_.isEmpty() || fd_ < 0)
        return false;
    const bool ok = tls_.send(unsent_);
    unsent_.clear();
    if (!ok) {
        failLater();
        return false;
    }
    sendOut();
    return true;
}

void TlsSocket::sendOut()
{
    const std::string_view out = tls_.outgoing();
    if (out.empty())
        return;
    std::size_t sent = 0;
    if (fd_ >= 0 && backlog_.isEmpty()) {
        const ssize_t n = ::send(fd_, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && !wouldBlock(errno)) {
            tls_.clearOutgoing();
            failLater();
            return;
        }
        sent = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (fd_ >= 0 && sent < out.size()) {
        backlog_.append(out.data() + sent, static_cast<qsizetype>(out.size() - sent));
        writeNotifier_->setEnabled(true);
    }
    tls_.clearOutgoing();
}

void TlsSocket::sendBacklog()
{
    while (fd_ >= 0 && backlogSent_ < backlog_.size()) {
        const ssize_t n = ::send(fd_, backlog_.constData() + backlogSent_,
                                 static_cast<std::size_t>(backlog_.size() - backlogSent_), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno))
            return;
        if (n < 0) {
            abort();
            return;
        }
        // Moved past, not removed: a large answer is not copied down on every send.
        backlogSent_ += n;
    }
    backlog_.clear();
    backlogSent_ = 0;
    if (writeNotifier_)
        writeNotifier_->setEnabled(false);
    if (state() == QAbstractSocket::ClosingState)
        ended();
}

void TlsSocket::disconnectFromHost()
{
    if (state() != QAbstractSocket::ConnectedState)
        return;
    flush();
    tls_.close();
    sendOut();
    setSocketState(QAbstractSocket::ClosingState);
    if (backlog_.isEmpty() || fd_ < 0) {
        ended();
        return;
    }
    if (backlog_.size() - backlogSent_ > ClosingBacklog) {
        abort();
        return;
    }
    if (readNotifier_)
        readNotifier_->setEnabled(false);
    QTimer::singleShot(ClosingWaitMs, this, [this] {
        if (state() == QAbstractSocket::ClosingState)
            abort();
    });
}

void TlsSocket::close()
{
    disconnectFromHost();
    QIODevice::close();
}

void TlsSocket::abort()
{
    unsent_.clear();
    backlog_.clear();
    backlogSent_ = 0;
    decrypted_.clear();
    ended();
}

void TlsSocket::closeDescriptor()
{
    // A notifier never outlives its descriptor; it may be the one calling.
    for (QSocketNotifier **n : {&readNotifier_, &writeNotifier_}) {
        if (!*n)
            continue;
        (*n)->setEnabled(false);
        (*n)->deleteLater();
        *n = nullptr;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void TlsSocket::failLater()
{
    // Not inside the write that found it: its caller may be walking a list.
    closeDescriptor();
    QMetaObject::invokeMethod(this, &TlsSocket::ended, Qt::QueuedConnection);
}

void TlsSocket::ended()
{
    closeDescriptor();
    if (state() == QAbstractSocket::UnconnectedState)
        return;
    setSocketState(QAbstractSocket::UnconnectedState);
    emit disconnected();
}

}  // namespace velora::server::web
