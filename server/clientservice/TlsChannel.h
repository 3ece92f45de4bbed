#pragma once
// TLS for a session of the TLS port, on the plain socket it already reads
// and writes: OpenSSL through memory buffers, server side only. Bytes from
// the peer go in, lines come out; a record goes in, the bytes for the peer
// come out at once, for the session to write in one go.

#include <QByteArray>
#include <memory>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;

namespace velora::server::clientservice {

// The one context every TLS session is made from: the server's key and
// certificate, TLS 1.2 or newer, nothing kept for resumption.
class TlsContext {
public:
    // From the certificate and key in PEM; null with a reason that never
    // holds the key.
    static std::shared_ptr<TlsContext> fromPem(const QByteArray &certificate, const QByteArray &key,
                                               std::string *why);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    ssl_ctx_st *get() const { return ctx_; }

private:
    explicit TlsContext(ssl_ctx_st *ctx) : ctx_(ctx) {}
    ssl_ctx_st *ctx_;
};

class TlsChannel {
public:
    explicit TlsChannel(const TlsContext &context);
    ~TlsChannel();
    TlsChannel(const TlsChannel &) = delete;
    TlsChannel &operator=(const TlsChannel &) = delete;

    enum class Outcome {
        Open,    // go on
        Closed,  // the peer said close_notify
        Failed,  // not TLS, an old protocol, a broken record: the end
    };
    // Bytes from the peer; what they decrypt to is appended to plain.
    Outcome receive(std::string_view raw, QByteArray &plain);
    // A record for the peer; held until the handshake is done.
    bool send(const QByteArray &plain);
    // close_notify, for a session that ends on its own.
    void close();

    // What is due to the peer (handshake, alerts, records), then gone.
    std::string_view outgoing() const;
    void clearOutgoing();

    bool isEstablished() const { return established_; }
    // The protocol agreed, "TLSv1.3"; empty before the handshake.
    std::string protocol() const;

private:
    Outcome handshake();
    void keepReadBufferSmall();

    ssl_st *ssl_ = nullptr;
    bio_st *in_ = nullptr;
    bio_st *out_ = nullptr;
    bool established_ = false;
    bool failed_ = false;
    QByteArray early_;
};

}  // namespace velora::server::clientservice
