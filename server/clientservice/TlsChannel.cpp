#include "server/clientservice/TlsChannel.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace velora::server::clientservice {

namespace {

// A buffer grown by a burst (the client list, a paste of chat) is given
// back once it is empty: an idle session keeps no more than a line's worth.
constexpr std::size_t KeptBuffer = 4 * 1024;

bool grown(BIO *bio)
{
    BUF_MEM *mem = nullptr;
    return BIO_get_mem_ptr(bio, &mem) == 1 && mem && mem->max > KeptBuffer;
}

template <typename T, void (*Free)(T *)>
struct Freer {
    void operator()(T *p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;

BioPtr readOnly(const QByteArray &bytes)
{
    return BioPtr(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
}

}  // namespace

// ------------------------------------------------------------ TlsContext

std::shared_ptr<TlsContext> TlsContext::fromPem(const QByteArray &certificate, const QByteArray &key,
                                                std::string *why)
{
    auto fail = [why](const char *reason) {
        ERR_clear_error();
        if (why)
            *why = reason;
        return std::shared_ptr<TlsContext>();
    };
    BioPtr certBio = readOnly(certificate);
    BioPtr keyBio = readOnly(key);
    X509Ptr x509(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr) : nullptr);
    KeyPtr pkey(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!x509 || !pkey)
        return fail("the certificate or the key cannot be read");
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx)
        return fail("no TLS context");
    std::shared_ptr<TlsContext> made(new TlsContext(ctx));
    // The highest both sides speak is taken, so 1.3 wherever the client has it.
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Buffers only while a record is on its way: most sessions are idle.
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    // Sessions live for the day and are not resumed: keep nothing for it.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_num_tickets(ctx, 0);
    if (SSL_CTX_use_certificate(ctx, x509.get()) != 1 || SSL_CTX_use_PrivateKey(ctx, pkey.get()) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1)
        return fail("the key does not belong to the certificate");
    return made;
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

// ------------------------------------------------------------ TlsChannel

TlsChannel::TlsChannel(const TlsContext &context)
    : ssl_(SSL_new(context.get())), in_(BIO_new(BIO_s_mem())), out_(BIO_new(BIO_s_mem()))
{
    if (ssl_ && in_ && out_) {
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
        return;
    }
    SSL_free(ssl_);
    BIO_free(in_);
    BIO_free(out_);
    ssl_ = nullptr;
    in_ = out_ = nullptr;
    failed_ = true;
}

// The buffers go with it.
TlsChannel::~TlsChannel() { SSL_free(ssl_); }

TlsChannel::Outcome TlsChannel::receive(std::string_view raw, QByteArray &plain)
{
    if (failed_)
        return Outcome::Failed;
    if (!raw.empty() && BIO_write(in_, raw.data(), static_cast<int>(raw.size())) != static_cast<int>(raw.size())) {
        failed_ = true;
        return Outcome::Failed;
    }
    if (!established_) {
        const Outcome o = handshake();
        if (o != Outcome::Open || !established_)
            return o;
    }
    char buffer[16 * 1024];
    for (;;) {
        ERR_clear_error();
        const int r = SSL_read(ssl_, buffer, sizeof buffer);
        if (r > 0) {
            plain.append(buffer, r);
            continue;
        }
        const int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_READ)
            break;
        ERR_clear_error();
        if (e == SSL_ERROR_ZERO_RETURN)
            return Outcome::Closed;
        failed_ = true;
        return Outcome::Failed;
    }
    keepReadBufferSmall();
    return Outcome::Open;
}

TlsChannel::Outcome TlsChannel::handshake()
{
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) {
        established_ = true;
        QByteArray early;
        early.swap(early_);
        return early.isEmpty() || send(early) ? Outcome::Open : Outcome::Failed;
    }
    if (SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ) {
        // A stalled handshake holds no record buffers while it waits.
        keepReadBufferSmall();
        return Outcome::Open;
    }
    // Not TLS, or a version or cipher we do not speak: the alert is in
    // outgoing() for the peer to read, if it still listens.
    ERR_clear_error();
    failed_ = true;
    return Outcome::Failed;
}

bool TlsChannel::send(const QByteArray &plain)
{
    if (failed_)
        return false;
    if (!established_) {
        early_.append(plain);
        return true;
    }
    if (plain.isEmpty())
        return true;
    ERR_clear_error();
    // A memory buffer takes it all: one call, one record for a line.
    if (SSL_write(ssl_, plain.constData(), static_cast<int>(plain.size())) != static_cast<int>(plain.size())) {
        ERR_clear_error();
        failed_ = true;
        return false;
    }
    return true;
}

void TlsChannel::close()
{
    if (!established_ || failed_)
        return;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

std::string_view TlsChannel::outgoing() const
{
    char *data = nullptr;
    const long n = out_ ? BIO_get_mem_data(out_, &data) : 0;
    return n > 0 ? std::string_view(data, static_cast<std::size_t>(n)) : std::string_view();
}

void TlsChannel::clearOutgoing()
{
    if (!out_)
        return;
    if (grown(out_)) {
        if (BIO *fresh = BIO_new(BIO_s_mem())) {
            SSL_set0_wbio(ssl_, fresh);  // frees the grown one
            out_ = fresh;
            return;
        }
    }
    (void)BIO_reset(out_);
}

std::string TlsChannel::protocol() const { return established_ ? SSL_get_version(ssl_) : std::string(); }

void TlsChannel::keepReadBufferSmall()
{
    // Between records OpenSSL's own buffers go too (a handshake keeps them
    // otherwise); not while part of a record is still to come.
    if (SSL_free_buffers(ssl_) != 1 || BIO_ctrl_pending(in_) != 0 || !grown(in_))
        return;
    BIO *fresh = BIO_new(BIO_s_mem());
    if (!fresh)
        return;
    SSL_set0_rbio(ssl_, fresh);  // frees the grown one
    in_ = fresh;
}

}  // namespace velora::server::clientservice
