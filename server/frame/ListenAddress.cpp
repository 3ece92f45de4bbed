#include "server/frame/ListenAddress.h"

#include <QNetworkInterface>

namespace velora::server::frame {

std::optional<QHostAddress> listenAddressFor(const std::string &setting, const std::string &fallback,
                                             const std::string &configPath, std::string *why)
{
    const QHostAddress any(QString::fromStdString(fallback));
    if (setting.empty() || setting == "*")
        return any;
    const QString text = QString::fromStdString(setting);
    QHostAddress a;
    if (a.setAddress(text))
        return a;
    // An interface's name: its first IPv4 address, for a LAN card whose
    // address the office's DHCP may change.
    const QNetworkInterface nic = QNetworkInterface::interfaceFromName(text);
    for (const QNetworkAddressEntry &e : nic.addressEntries())
        if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
            return e.ip();
    // Never all addresses by accident: those include the dialled line's.
    *why = configPath + ": [server] listen=" + setting +
           (nic.isValid() ? " names an interface without an IPv4 address yet"
                          : " is neither an address nor an interface with an IPv4 address") +
           "; the server stays offline and tries again each minute";
    return std::nullopt;
}

}  // namespace velora::server::frame
