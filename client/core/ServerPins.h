#pragma once
// The fingerprints of the servers' certificates that this client trusts,
// one line per server: "host port fingerprint". Trust on first use, as a
// shell client keeps its known hosts.

#include <optional>
#include <string>

#include <QString>

class QSslCertificate;

namespace velora::client::core {

// SHA-256 of the certificate's DER bytes, 64 lowercase hex digits.
std::string certificateFingerprint(const QSslCertificate &certificate);
// 64 hex digits in either case, colons and blanks allowed; nullopt otherwise.
std::optional<std::string> normalFingerprint(const std::string &text);

class ServerPins {
public:
    explicit ServerPins(QString path) : path_(std::move(path)) {}
    std::optional<std::string> pinned(const std::string &host, int port) const;
    // Adds or replaces the server's line; the file is the user's alone (0600).
    bool pin(const std::string &host, int port, const std::string &fingerprint, QString *error) const;
    const QString &path() const { return path_; }

private:
    QString path_;
};

}  // namespace velora::client::core
