#pragma once
// One client connection: its socket, its line framer and its record. It
// reads lines and hands them on; it writes what it is given, bounded.

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/LineFramer.h"
#include "server/clientservice/TSimpleClient.h"

class QTcpSocket;

namespace velora::server::clientservice {

class TlsChannel;
class TlsContext;

class Session : public QObject {
    Q_OBJECT
public:
    // Where a session's lines and its end go.
    struct Sink {
        virtual ~Sink() = default;
        virtual void lineFrom(Session &session, const std::string &line) = 0;
        virtual void ended(Session *session) = 0;
    };

    Session(QTcpSocket *socket, Sink &sink, QObject *parent);
    ~Session() override;

    TSimpleClient record;
    // Logged in: in the client list, "OK" written.
    bool inList = false;
    // The address the connection comes from, as the system saw it.
    std::string peer;
    std::int64_t acceptedAt = 0;
    // Bytes have come from the peer (a stranger that sent nothing is the
    // first to make room for a newcomer).
    bool heardFrom = false;
    // The login line waits out its address's back-off; other lines are dropped.
    bool loginHeld = false;
    // The name and cipher text it logged in with: its privileges are looked
    // up again at each command, as the user store says then.
    std::string loginName;
    std::string loginCipher;

    // Queues a line (CR LF appended). A peer that leaves more than
    // MaxQueuedBytes unread is closed.
    void writeLine(const std::string &line);
    // An already framed line; shared, not copied, when many get the same.
    void writeFramed(const QByteArray &framed);
    // Ends the session at once; the disconnect handling follows.
    void abort();
    // Sends what is queued, then closes.
    void closeAfterWrite();
    bool isClosing() const { return closing_; }
    // Stops taking lines from the peer until resumeReading; the kernel's
    // window then holds the sender back.
    void pauseReading() { paused_ = true; }
    bool isPaused() const { return paused_; }
    void resumeReading();
    // Reads what has already arrived (a login line sent with the connect).
    void readNow() { onReadyRead(); }
    // A session of the TLS port: TLS from the first byte on the plain
    // socket. Lines are read only once the handshake is done; anything
    // wrong before that ends the session.
    void startEncryption(const TlsContext &context);
    bool isEncrypted() const;
    QTcpSocket *socket() const { return socket_; }
    std::size_t queuedBytes() const;
    // Bytes read from the peer whose lines have been handed on (or held),
    // and bytes given to the socket for the peer.
    std::uint64_t bytesTaken() const { return bytesTaken_; }
    std::uint64_t bytesGiven() const { return bytesGiven_; }

    static constexpr std::size_t MaxQueuedBytes = 1 << 20;
    static constexpr qint64 ReadBufferBytes = 64 * 1024;
    // What one turn of the loop reads of a session.
    static constexpr qint64 ReadChunkBytes = 64 * 1024;

private:
    void onReadyRead();
    // What the TLS layer owes the peer, in one write.
    void sendEncrypted();
    QTcpSocket *socket_;
    Sink &sink_;
    LineFramer framer_;
    bool closing_ = false;
    bool paused_ = false;
    std::unique_ptr<TlsChannel> tls_;
    std::uint64_t bytesTaken_ = 0;
    std::uint64_t bytesGiven_ = 0;
};

}  // namespace velora::server::clientservice
