#include "server/clientservice/Session.h"

#include <QTcpSocket>

#include "server/clientservice/TlsChannel.h"

#include <algorithm>
#include <vector>

#include <sys/socket.h>

namespace velora::server::clientservice {

Session::Session(QTcpSocket *socket, Sink &sink, QObject *parent) : QObject(parent), socket_(socket), sink_(sink)
{
    socket_->setParent(this);
    // However Qt reads, it never holds more than this of ours: while we
    // take no lines (paused), the kernel's window holds the sender back.
    socket_->setReadBufferSize(ReadBufferBytes);
    // Push lines are small and due now; do not let them wait for an ACK.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    record.session = this;
    connect(socket_, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, [this] { sink_.ended(this); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            sink_.ended(this);
    });
}

Session::~Session() = default;

void Session::startEncryption(const TlsContext &context)
{
    tls_ = std::make_unique<TlsChannel>(context);
    // A client hello sent with the connect is answered now.
    onReadyRead();
}

bool Session::isEncrypted() const { return tls_ && tls_->isEstablished(); }

void Session::sendEncrypted()
{
    const std::string_view out = tls_->outgoing();
    if (out.empty())
        return;
    // Straight to the kernel while Qt holds nothing of ours: its write goes
    // through a buffer of 32 KiB that then stays with the session, and its
    // write notifier. Only what the kernel does not take is left to Qt,
    // which also reports a broken connection.
    std::size_t sent = 0;
    if (socket_->bytesToWrite() == 0) {
        const ssize_t n = ::send(static_cast<int>(socket_->socketDescriptor()), out.data(), out.size(),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        sent = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (sent < out.size())
        socket_->write(out.data() + sent, static_cast<qint64>(out.size() - sent));
    tls_->clearOutgoing();
}

std::size_t Session::queuedBytes() const { return static_cast<std::size_t>(socket_->bytesToWrite()); }

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
    if (!tls_) {
        socket_->write(framed);
    } else if (tls_->send(framed)) {
        // Encrypted and handed to the kernel now, within the tick.
        sendEncrypted();
    } else {
        abort();
        return;
    }
    bytesGiven_ += static_cast<std::uint64_t>(framed.size());
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
    sink_.ended(this);
}

void Session::closeAfterWrite()
{
    if (closing_)
        return;
    closing_ = true;
    if (tls_) {
        tls_->close();
        sendEncrypted();
    }
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        sink_.ended(this);
}

void Session::onReadyRead()
{
    // One chunk per turn of the event loop: a peer that never stops sending
    // must not keep the ticks and the other sessions waiting.
    if (closing_ || paused_ || socket_->bytesAvailable() <= 0)
        return;
    QByteArray chunk;
    bool peerClosed = false;
    if (!tls_) {
        chunk = socket_->read(ReadChunkBytes);
    } else {
        // Ciphertext is decrypted as soon as it is read, so one buffer
        // serves every session.
        static thread_local std::vector<char> raw(ReadChunkBytes);
        const qint64 n = socket_->read(raw.data(), ReadChunkBytes);
        QByteArray plain;
        const auto outcome =
            tls_->receive(std::string_view(raw.data(), static_cast<std::size_t>(std::max<qint64>(n, 0))), plain);
        // The handshake's answer, or the alert that says why not.
        sendEncrypted();
        if (outcome == TlsChannel::Outcome::Failed) {
            abort();
            return;
        }
        peerClosed = outcome == TlsChannel::Outcome::Closed;
        chunk = std::move(plain);
    }
    if (!chunk.isEmpty())
        heardFrom = true;
    std::vector<std::string> lines;
    const bool ok = framer_.feed(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())), lines);
    for (const auto &line : lines) {
        if (closing_)
            return;
        sink_.lineFrom(*this, line);
    }
    bytesTaken_ += static_cast<std::uint64_t>(chunk.size());
    if (!ok) {
        abort();
        return;
    }
    if (peerClosed) {
        closeAfterWrite();
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

}  // namespace velora::server::clientservice
