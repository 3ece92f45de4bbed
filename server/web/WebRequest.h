#pragma once
// What a request carries (headers, the session cookie, JSON text as the
// wire's bytes), where it comes from, and the page's own files.

#include <QByteArray>
#include <optional>
#include <string>

class QHostAddress;
class QHttpServerRequest;
class QJsonValue;

namespace velora::server::web {

// A header's value, its name in any case; empty when absent.
QByteArray header(const QHttpServerRequest &request, const QByteArray &name);
// The velora_session cookie's token; empty when absent.
std::string cookieToken(const QHttpServerRequest &request);
// A JSON string as Windows-1252 bytes, as the wire and the files hold text.
std::string wireOf(const QJsonValue &v);
// The office's own networks: loopback, private, link-local.
bool onLan(const QHostAddress &peer);

struct PageFile {
    QByteArray type;
    QByteArray body;
};
// One of the page's files from the resources; none for any other path.
std::optional<PageFile> pageFile(const std::string &path);

}  // namespace velora::server::web
