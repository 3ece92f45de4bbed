#include "client/core/ServerPins.h"

#include <QCryptographicHash>
#include <QSslCertificate>

#include <sstream>

#include "common/FileIo.h"
#include "common/TextLines.h"

namespace velora::client::core {

std::string certificateFingerprint(const QSslCertificate &certificate)
{
    return certificate.digest(QCryptographicHash::Sha256).toHex().toStdString();
}

std::optional<std::string> normalFingerprint(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c == ':' || c == ' ')
            continue;
        if (c >= '0' && c <= '9')
            out += c;
        else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            out += static_cast<char>(c | 0x20);
        else
            return std::nullopt;
    }
    if (out.size() != 64)
        return std::nullopt;
    return out;
}

namespace {
std::string serverKey(const std::string &host, int port) { return host + ' ' + std::to_string(port); }
}  // namespace

std::optional<std::string> ServerPins::pinned(const std::string &host, int port) const
{
    const auto text = readWholeFile(path_.toStdString());
    if (!text)
        return std::nullopt;
    const std::string key = serverKey(host, port) + ' ';
    for (const std::string &line : splitTextLines(*text))
        if (line.compare(0, key.size(), key) == 0)
            return normalFingerprint(line.substr(key.size()));
    return std::nullopt;
}

bool ServerPins::pin(const std::string &host, int port, const std::string &fingerprint, QString *error) const
{
    const std::string key = serverKey(host, port) + ' ';
    std::string content;
    if (const auto text = readWholeFile(path_.toStdString()))
        for (const std::string &line : splitTextLines(*text))
            if (!line.empty() && line.compare(0, key.size(), key) != 0)
                content += line + "\n";
    content += key + fingerprint + "\n";
    WriteMode mode;
    mode.newFile = 0600;
    mode.force = true;
    std::string why;
    if (writeFileAtomically(path_.toStdString(), content, mode, &why))
        return true;
    if (error)
        *error = QString::fromStdString(why);
    return false;
}

}  // namespace velora::client::core
