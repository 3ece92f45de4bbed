// The server's TLS layer against an OpenSSL client in the same process, the
// bytes carried by hand: handshakes, records cut anywhere, what ends it.
#include <gtest/gtest.h>

#include <functional>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "server/clientservice/TlsChannel.h"

using velora::server::clientservice::TlsChannel;
using velora::server::clientservice::TlsContext;
using Outcome = TlsChannel::Outcome;

namespace {

QByteArray pemOf(const std::function<int(BIO *)> &write)
{
    BIO *b = BIO_new(BIO_s_mem());
    write(b);
    char *data = nullptr;
    const long n = BIO_get_mem_data(b, &data);
    QByteArray out(data, static_cast<qsizetype>(n));
    BIO_free(b);
    return out;
}

std::shared_ptr<TlsContext> makeContext()
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *x = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("test"), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(x));
    X509_sign(x, key, EVP_sha256());
    const QByteArray cert = pemOf([x](BIO *b) { return PEM_write_bio_X509(b, x); });
    const QByteArray pkey =
        pemOf([key](BIO *b) { return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); });
    X509_free(x);
    EVP_PKEY_free(key);
    std::string why;
    auto context = TlsContext::fromPem(cert, pkey, &why);
    EXPECT_TRUE(context) << why;
    return context;
}

// A client on memory buffers; step() carries bytes both ways, the
// client's to the server in pieces of `piece` bytes.
struct Client {
    explicit Client(TlsChannel &server, int maxVersion = 0) : server(server)
    {
        ctx = SSL_CTX_new(TLS_client_method());
        if (maxVersion) {
            SSL_CTX_set_security_level(ctx, 0);
            SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(ctx, maxVersion);
        }
        ssl = SSL_new(ctx);
        in = BIO_new(BIO_s_mem());
        out = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl, in, out);
        SSL_set_connect_state(ssl);
    }
    ~Client()
    {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
    Outcome step(std::size_t piece = 1 << 20)
    {
        SSL_do_handshake(ssl);
        Outcome o = Outcome::Open;
        char *data = nullptr;
        const long n = BIO_get_mem_data(out, &data);
        const std::string bytes(data, static_cast<std::size_t>(n));
        (void)BIO_reset(out);
        for (std::size_t at = 0; at < bytes.size() && o == Outcome::Open; at += piece)
            o = server.receive(std::string_view(bytes).substr(at, piece), plain);
        const std::string_view back = server.outgoing();
        BIO_write(in, back.data(), static_cast<int>(back.size()));
        server.clearOutgoing();
        return o;
    }
    std::string read()
    {
        char buffer[256];
        const int r = SSL_read(ssl, buffer, sizeof buffer);
        return r > 0 ? std::string(buffer, static_cast<std::size_t>(r)) : std::string();
    }
    TlsChannel &server;
    SSL_CTX *ctx;
    SSL *ssl;
    BIO *in;
    BIO *out;
    QByteArray plain;
};

}  // namespace

TEST(TlsChannel, LinesBothWaysThroughRecordsCutAnywhere)
{
    const auto context = makeContext();
    TlsChannel server(*context);
    Client client(server);
    // Due before the handshake is done: held, then sent.
    ASSERT_TRUE(server.send("early\r\n"));
    for (int i = 0; i < 4 && !server.isEstablished(); ++i)
        ASSERT_EQ(client.step(1), Outcome::Open);
    ASSERT_TRUE(server.isEstablished());
    EXPECT_EQ(server.protocol(), "TLSv1.3");
    SSL_write(client.ssl, "connect\r\n", 9);
    EXPECT_EQ(client.step(7), Outcome::Open);
    // Two records in one read.
    SSL_write(client.ssl, "a\r\n", 3);
    SSL_write(client.ssl, "b\r\n", 3);
    EXPECT_EQ(client.step(), Outcome::Open);
    EXPECT_EQ(client.plain, QByteArray("connect\r\na\r\nb\r\n"));
    ASSERT_TRUE(server.send("OK\r\n"));
    client.step();
    EXPECT_EQ(client.read(), "early\r\n");
    EXPECT_EQ(client.read(), "OK\r\n");
    // The peer's close_notify ends it.
    SSL_shutdown(client.ssl);
    EXPECT_EQ(client.step(), Outcome::Closed);
}

TEST(TlsChannel, WhatIsNotSoundTlsEndsIt)
{
    const auto context = makeContext();
    {
        TlsChannel server(*context);
        QByteArray plain;
        EXPECT_EQ(server.receive("connect\r\n", plain), Outcome::Failed);
        EXPECT_FALSE(server.send("OK\r\n"));
        EXPECT_TRUE(plain.isEmpty());
    }
    {
        TlsChannel server(*context);
        Client old(server, TLS1_1_VERSION);
        EXPECT_EQ(old.step(), Outcome::Failed);
        EXPECT_FALSE(server.isEstablished());
        // The client is told why: a protocol version alert.
        EXPECT_NE(SSL_do_handshake(old.ssl), 1);
    }
    {
        TlsChannel server(*context);
        Client client(server);
        while (!server.isEstablished())
            ASSERT_EQ(client.step(), Outcome::Open);
        SSL_write(client.ssl, "connect\r\n", 9);
        char *data = nullptr;
        const long n = BIO_get_mem_data(client.out, &data);
        data[n - 1] ^= 1;
        EXPECT_EQ(client.step(), Outcome::Failed);
        EXPECT_TRUE(client.plain.isEmpty());
    }
}
