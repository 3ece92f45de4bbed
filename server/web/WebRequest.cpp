#include "server/web/WebRequest.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QJsonValue>
#include <utility>

#include "common/TextCodec.h"

namespace velora::server::web {

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

std::string cookieToken(const QHttpServerRequest &request)
{
    for (const QByteArray &part : header(request, "Cookie").split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith("velora_session="))
            return p.mid(15).toStdString();
    }
    return {};
}

std::string wireOf(const QJsonValue &v) { return utf8ToCp1252(v.toString().toStdString()); }

bool onLan(const QHostAddress &peer)
{
    bool ok = false;
    const QHostAddress a = QHostAddress(peer.toIPv4Address(&ok));
    const QHostAddress &p = ok ? a : peer;
    static const std::pair<QHostAddress, int> nets[] = {
        {QHostAddress(QStringLiteral("127.0.0.0")), 8},    {QHostAddress(QStringLiteral("10.0.0.0")), 8},
        {QHostAddress(QStringLiteral("172.16.0.0")), 12},  {QHostAddress(QStringLiteral("192.168.0.0")), 16},
        {QHostAddress(QStringLiteral("169.254.0.0")), 16}, {QHostAddress(QStringLiteral("::1")), 128},
        {QHostAddress(QStringLiteral("fc00::")), 7},       {QHostAddress(QStringLiteral("fe80::")), 10}};
    for (const auto &[net, bits] : nets)
        if (p.isInSubnet(net, bits))
            return true;
    return false;
}

std::optional<PageFile> pageFile(const std::string &path)
{
    static const std::pair<const char *, const char *> files[] = {
        {"/", "text/html; charset=utf-8"}, {"/app.js", "text/javascript; charset=utf-8"},
        {"/style.css", "text/css; charset=utf-8"}, {"/icon.svg", "image/svg+xml"}};
    for (const auto &[name, type] : files) {
        if (path != name)
            continue;
        QFile f(QStringLiteral(":/web") + QLatin1String(path == "/" ? "/index.html" : name));
        if (f.open(QIODevice::ReadOnly))
            return PageFile{type, f.readAll()};
    }
    return std::nullopt;
}

}  // namespace velora::server::web
