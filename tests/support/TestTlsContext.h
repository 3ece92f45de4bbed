#pragma once
// A throwaway key and self-signed certificate for the server side of TLS
// tests, made in memory.

#include <gtest/gtest.h>

#include <QByteArray>
#include <functional>
#include <memory>
#include <string>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "server/clientservice/TlsChannel.h"

namespace velora::test {

inline QByteArray pemOf(const std::function<int(BIO *)> &write)
{
    BIO *b = BIO_new(BIO_s_mem());
    write(b);
    char *data = nullptr;
    const long n = BIO_get_mem_data(b, &data);
    QByteArray out(data, static_cast<qsizetype>(n));
    BIO_free(b);
    return out;
}

inline std::shared_ptr<server::clientservice::TlsContext> makeTlsContext()
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
    auto context = server::clientservice::TlsContext::fromPem(cert, pkey, &why);
    EXPECT_TRUE(context) << why;
    return context;
}

}  // namespace velora::test
