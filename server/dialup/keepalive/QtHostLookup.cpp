#include "server/dialup/keepalive/QtHostLookup.h"

#include "common/TextCodec.h"

#include <QHostAddress>
#include <QHostInfo>

namespace velora::server::dialup {

QtHostLookup::~QtHostLookup()
{
    cancel();
}

bool QtHostLookup::start(const std::string &host, std::string *error)
{
    cancel();
    // A name no resolver could take is refused before anything starts.
    bool usable = !host.empty() && host.size() <= 255;
    for (const char ch : host)
        usable = usable && static_cast<unsigned char>(ch) > 0x20 && ch != 0x7f;
    if (!usable) {
        if (error)
            *error = "invalid host name";
        return false;
    }
    const QString name = QString::fromUtf8(cp1252ToUtf8(host));
    pendingId_ = QHostInfo::lookupHost(name, this, [this](const QHostInfo &info) {
        if (info.lookupId() != pendingId_)
            return;
        pendingId_ = -1;
        int code = 0;
        std::string address;
        if (info.error() == QHostInfo::HostNotFound)
            code = PingError::HostNotFound;
        else if (info.error() != QHostInfo::NoError)
            code = PingError::TryAgain;
        else {
            for (const QHostAddress &a : info.addresses()) {
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    address = a.toString().toStdString();
                    break;
                }
            }
            if (address.empty())
                code = PingError::NoAddress;
        }
        emit finished(code, address);
    });
    return true;
}

void QtHostLookup::cancel()
{
    if (pendingId_ != -1) {
        QHostInfo::abortHostLookup(pendingId_);
        pendingId_ = -1;
    }
}

}  // namespace velora::server::dialup
