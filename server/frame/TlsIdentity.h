#pragma once
// The server's own key and self-signed certificate under config/tls/: made
// once, kept, replaced only when the operator asks. An office has no
// certificate authority; clients pin the certificate's fingerprint.

#include <QSslCertificate>
#include <QSslKey>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/clientservice/TlsChannel.h"

namespace velora::server::frame {

class TlsIdentity {
public:
    // folder: config/tls of the base dir.
    explicit TlsIdentity(std::string folder);

    // Reads the pair; makes it when neither file is there. Never replaces a
    // file that exists. False with a reason that never holds the key.
    bool loadOrMake(std::string *why);
    // A new key and certificate in place of the old ones.
    bool renew(std::string *why);

    bool isLoaded() const { return !certificate_.isNull() && !key_.isNull(); }
    // SHA-256 of the certificate's DER bytes, 64 lowercase hex digits.
    std::string fingerprint() const;
    // What the TLS port's sessions and the web page's connections are made
    // from: TLS 1.2 or newer, no client certificates. Null with a reason.
    std::shared_ptr<const clientservice::TlsContext> serverContext(std::string *why) const;

    std::string keyPath() const { return folder_ + "/key.pem"; }
    std::string certificatePath() const { return folder_ + "/cert.pem"; }

    static std::string fingerprintOf(const QSslCertificate &certificate);
    // The names the certificate carries: the host name and the LAN addresses.
    static std::vector<std::string> localNames();

    static constexpr int ValidDays = 3650;

private:
    bool make(bool replace, std::string *why);
    bool load(std::string *why);

    std::string folder_;
    QSslCertificate certificate_;
    QSslKey key_;
};

// `velora tls fingerprint` and `velora tls renew [--yes]`; ask reads the
// operator's answer to a question. Exit codes: 0 done, 1 failed or declined,
// 2 usage.
int runTlsCommand(const std::vector<std::string> &args, TlsIdentity &identity,
                  const std::function<bool(const char *question)> &ask, std::FILE *out, std::FILE *err);

}  // namespace velora::server::frame
