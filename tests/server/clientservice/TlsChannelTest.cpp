// The server's TLS layer against an OpenSSL client in the same process, the
// bytes carried by hand: handshakes, records cut anywhere, what ends it.
#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "server/clientservice/TlsChannel.h"
#include "support/TestTlsContext.h"

using velora::server::clientservice::TlsChannel;
using Outcome = TlsChannel::Outcome;

namespace {

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
    const auto context = velora::test::makeTlsContext();
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
    const auto context = velora::test::makeTlsContext();
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
