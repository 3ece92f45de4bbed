#include "server/frame/OwnRecord.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

#include "common/TextCodec.h"

namespace velora::server::frame {

std::string ownClientName() { return "Admin@" + utf8ToCp1252(QHostInfo::localHostName().toStdString()); }

std::string ownAddress()
{
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString().toStdString();
    return "127.0.0.1";
}

}  // namespace velora::server::frame
