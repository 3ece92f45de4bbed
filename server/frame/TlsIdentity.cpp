#include "server/frame/TlsIdentity.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

#include <cstring>
#include <memory>
#include <sys/stat.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "common/FileIo.h"

namespace velora::server::frame {

namespace {

template <typename T, void (*Free)(T *)>
struct Freer {
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Ext = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION, X509_EXTENSION_free>>;

std::string bioText(BIO *bio)
{
    char *data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

bool addExtension(X509 *cert, int nid, const std::string &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    Ext ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A self-signed certificate for the key; PEM texts of both, or false.
bool makePair(const std::vector<std::string> &names, std::string &keyPem, std::string &certPem)
{
    Key key(EVP_EC_gen("P-256"));
    Cert cert(X509_new());
    if (!key || !cert || X509_set_version(cert.get(), 2) != 1)
        return false;
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        return false;
    serial[0] &= 0x7f;
    BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    if (!serialSet)
        return false;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_time_adj_ex(X509_getm_notAfter(cert.get()), TlsIdentity::ValidDays, 0, nullptr);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME *subject = X509_get_subject_name(cert.get());
    const std::string common = names.empty() ? std::string("velora") : names.front();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(common.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), subject);
    std::string san;
    for (const std::string &n : names) {
        if (!san.empty())
            san += ',';
        san += (QHostAddress(QString::fromStdString(n)).isNull() ? "DNS:" : "IP:") + n;
    }
    if (!san.empty() && !addExtension(cert.get(), NID_subject_alt_name, san))
        return false;
    if (!addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE"))
        return false;
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        return false;
    Bio keyBio(BIO_new(BIO_s_mem()));
    Bio certBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certBio ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(certBio.get(), cert.get()) != 1)
        return false;
    keyPem = bioText(keyBio.get());
    certPem = bioText(certBio.get());
    return !keyPem.empty() && !certPem.empty();
}

}  // namespace

TlsIdentity::TlsIdentity(std::string folder) : folder_(std::move(folder)) {}

std::vector<std::string> TlsIdentity::localNames()
{
    std::vector<std::string> names;
    const QString host = QHostInfo::localHostName();
    if (!host.isEmpty())
        names.push_back(host.toStdString());
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (!a.isLoopback() && !a.isLinkLocal() && a.scopeId().isEmpty())
            names.push_back(a.toString().toStdString());
    return names;
}

bool TlsIdentity::loadOrMake(std::string *why)
{
    const bool haveKey = exists(keyPath());
    const bool haveCert = exists(certificatePath());
    if (!haveKey && !haveCert)
        return make(false, why);
    if (haveKey != haveCert) {
        if (why)
            *why = (haveKey ? certificatePath() : keyPath()) + " is missing; run \"velora tls renew\" for a new pair";
        return false;
    }
    return load(why);
}

bool TlsIdentity::renew(std::string *why) { return make(true, why); }

bool TlsIdentity::make(bool replace, std::string *why)
{
    std::string keyPem, certPem;
    if (!makePair(localNames(), keyPem, certPem)) {
        if (why)
            *why = "cannot make a key and certificate";
        return false;
    }
    std::string error;
    if (!makeFolder(folder_, 0700, &error)) {
        if (why)
            *why = error;
        return false;
    }
    // Another start may have made them meanwhile: keep what is there.
    if (!replace && (exists(keyPath()) || exists(certificatePath())))
        return load(why);
    WriteMode secret;
    secret.newFile = 0600;
    secret.force = true;
    WriteMode open;
    open.newFile = 0644;
    open.force = true;
    if (!writeFileAtomically(keyPath(), keyPem, secret, &error) ||
        !writeFileAtomically(certificatePath(), certPem, open, &error)) {
        if (why)
            *why = error;
        return false;
    }
    return load(why);
}

bool TlsIdentity::load(std::string *why)
{
    int error = 0;
    const auto keyPem = readWholeFile(keyPath(), &error);
    const auto certPem = readWholeFile(certificatePath(), &error);
    if (!keyPem || !certPem) {
        if (why)
            *why = "cannot read " + folder_ + ": " + std::strerror(error);
        return false;
    }
    key_ = QSslKey(QByteArray::fromStdString(*keyPem), QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    certificate_ = QSslCertificate(QByteArray::fromStdString(*certPem), QSsl::Pem);
    if (key_.isNull() || certificate_.isNull()) {
        if (why)
            *why = (key_.isNull() ? keyPath() : certificatePath()) + " is damaged; run \"velora tls renew\" for a new pair";
        key_ = QSslKey();
        certificate_ = QSslCertificate();
        return false;
    }
    return true;
}

std::string TlsIdentity::fingerprintOf(const QSslCertificate &certificate)
{
    return certificate.digest(QCryptographicHash::Sha256).toHex().toStdString();
}

std::string TlsIdentity::fingerprint() const { return isLoaded() ? fingerprintOf(certificate_) : std::string(); }

std::shared_ptr<const clientservice::TlsContext> TlsIdentity::serverContext(std::string *why) const
{
    if (!isLoaded()) {
        if (why)
            *why = "no key and certificate";
        return nullptr;
    }
    return clientservice::TlsContext::fromPem(certificate_.toPem(), key_.toPem(), why);
}

int runTlsCommand(const std::vector<std::string> &args, TlsIdentity &identity,
                  const std::function<bool(const char *question)> &ask, std::FILE *out, std::FILE *err)
{
    const std::string verb = args.empty() ? std::string() : args.front();
    const bool yes = args.size() == 2 && args[1] == "--yes";
    if (!((verb == "fingerprint" && args.size() == 1) || (verb == "renew" && (args.size() == 1 || yes)))) {
        std::fputs("velora: usage: velora [--basedir DIR] tls fingerprint | tls renew [--yes]\n", err);
        return 2;
    }
    std::string why;
    if (verb == "renew") {
        if (!yes && !ask("Make a new key and certificate? Every client that trusts the old one will refuse the "
                         "server until its user trusts the new fingerprint. [y/N] "))
            return 1;
        if (!identity.renew(&why)) {
            std::fprintf(err, "velora: %s\n", why.c_str());
            return 1;
        }
        std::fputs("velora: new key and certificate; a running server uses them once it is restarted\n", err);
    } else if (!identity.loadOrMake(&why)) {
        std::fprintf(err, "velora: %s\n", why.c_str());
        return 1;
    }
    std::fprintf(out, "%s\n", identity.fingerprint().c_str());
    return 0;
}

}  // namespace velora::server::frame
