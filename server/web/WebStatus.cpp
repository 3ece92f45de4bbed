#include "server/web/WebStatus.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "common/TextCodec.h"
#include "server/clientservice/TSimpleClient.h"
#include "server/state/ServerState.h"

namespace velora::server::web {

using namespace Qt::Literals::StringLiterals;

namespace {
QString utf8(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }
}  // namespace

QString costText(std::int64_t tenThousandths)
{
    const bool negative = tenThousandths < 0;
    const std::int64_t hundredths = ((negative ? -tenThousandths : tenThousandths) + 50) / 100;
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(hundredths / 100)
        .arg(hundredths % 100, 2, 10, QChar(u'0'));
}

QJsonObject statusJson(const LineFacts &facts)
{
    const state::ServerState &s = facts.state;
    QJsonObject o;
    o[u"status"_s] = utf8(s.StatusText);
    o[u"connected"_s] = s.ActiveStatus == state::LinkState::Connected;
    o[u"entry"_s] = utf8(s.ActiveEntry);
    o[u"lock"_s] = QString::fromStdString(state::toText(s.LockStatus));
    o[u"error"_s] = utf8(s.ErrorNotice);
    o[u"speed"_s] = utf8(s.SpeedValue);
    o[u"speedText"_s] = utf8(s.SpeedText);
    o[u"device"_s] = utf8(s.ActiveDevice);
    o[u"secondsOnline"_s] = static_cast<qint64>(s.SecondsOnline);
    o[u"timeOnline"_s] = utf8(s.TimeOnlineText);
    QJsonArray entries;
    for (const std::string &e : s.EntryNames)
        entries.append(utf8(e));
    o[u"entries"_s] = entries;
    QJsonArray clients;
    for (const clientservice::TSimpleClient *r : facts.clients) {
        QJsonObject c;
        c[u"name"_s] = utf8(r->ClientName);
        c[u"address"_s] = utf8(r->Address);
        c[u"lock"_s] = QString::fromStdString(state::toText(r->LockState));
        c[u"lockedSince"_s] = static_cast<qint64>(r->LockedSince);
        clients.append(c);
    }
    o[u"clients"_s] = clients;
    if (facts.monthCost)
        o[u"monthCost"_s] = costText(*facts.monthCost);
    if (facts.monthBytes) {
        o[u"monthBytes"_s] = static_cast<qint64>(*facts.monthBytes);
        o[u"monthBytesCap"_s] = static_cast<qint64>(facts.monthBytesCap);
    }
    return o;
}

MetricFacts metricFacts(const LineFacts &facts)
{
    MetricFacts m;
    m.lineUp = facts.state.ActiveStatus == state::LinkState::Connected;
    m.secondsOnline = m.lineUp ? facts.state.SecondsOnline : 0;
    m.monthCost = facts.monthCost;
    m.monthBytes = facts.monthBytes;
    for (const clientservice::TSimpleClient *r : facts.clients)
        m.clients += r->session != nullptr || r->UserName.size() > 0;
    return m;
}

std::string metricsText(const MetricFacts &m)
{
    std::string t;
    const auto metric = [&t](const char *name, const char *type, const char *help) {
        t += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    metric("velora_line_up", "gauge", "1 while the dialled line is connected.");
    t += "velora_line_up " + std::to_string(m.lineUp ? 1 : 0) + "\n";
    metric("velora_seconds_online", "gauge", "Seconds the current connection has been up.");
    t += "velora_seconds_online " + std::to_string(m.secondsOnline) + "\n";
    metric("velora_bytes_total", "counter", "Bytes moved over the dialled line since the server started.");
    t += "velora_bytes_total{direction=\"download\"} " + std::to_string(m.bytesDown) + "\n";
    t += "velora_bytes_total{direction=\"upload\"} " + std::to_string(m.bytesUp) + "\n";
    if (m.monthCost) {
        metric("velora_month_cost", "gauge", "This month's cost of the connections in the log.");
        t += "velora_month_cost " + costText(*m.monthCost).toStdString() + "\n";
    }
    if (m.monthBytes) {
        metric("velora_month_bytes", "gauge", "Bytes of the office's computers on the shared line this billing cycle.");
        t += "velora_month_bytes " + std::to_string(*m.monthBytes) + "\n";
    }
    metric("velora_clients", "gauge", "Logged-in clients, wire and web.");
    t += "velora_clients " + std::to_string(m.clients) + "\n";
    metric("velora_refused_connections_total", "counter", "Connections refused at the doors since start.");
    t += "velora_refused_connections_total " + std::to_string(m.refused) + "\n";
    return t;
}

QByteArray sseEvent(const char *name, const QByteArray &json)
{
    QByteArray e;
    e.reserve(json.size() + 32);
    e += "event: ";
    e += name;
    e += "\ndata: ";
    e += json;
    e += "\n\n";
    return e;
}

}  // namespace velora::server::web
