#pragma once
// What the page, the API and the metrics say about the line: built from the
// state block and the client list as the status tick left them. Texts of
// the wire (Windows-1252) become UTF-8 here.

#include <QByteArray>
#include <QJsonObject>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velora::server::state {
struct ServerState;
}
namespace velora::server::clientservice {
struct TSimpleClient;
}

namespace velora::server::web {

struct LineFacts {
    const state::ServerState &state;
    const std::vector<clientservice::TSimpleClient *> &clients;
    // This month's cost in ten-thousandths; none when the log cannot say.
    std::optional<std::int64_t> monthCost;
    // This billing cycle's bytes on the shared line and the cap (0: none).
    std::optional<std::uint64_t> monthBytes;
    std::uint64_t monthBytesCap = 0;
};

// The status record's items as named fields, the entries and the clients
// with their locks.
QJsonObject statusJson(const LineFacts &facts);
// A cost in ten-thousandths as the page shows it: "1234.50".
QString costText(std::int64_t tenThousandths);

struct MetricFacts {
    bool lineUp = false;
    std::uint64_t secondsOnline = 0;
    std::uint64_t bytesDown = 0, bytesUp = 0;
    std::optional<std::int64_t> monthCost;
    std::optional<std::uint64_t> monthBytes;
    std::size_t clients = 0;
    std::size_t refused = 0;
};
MetricFacts metricFacts(const LineFacts &facts);
// Prometheus' text format, version 0.0.4.
std::string metricsText(const MetricFacts &facts);

// One Server-Sent Event.
QByteArray sseEvent(const char *name, const QByteArray &json);

}  // namespace velora::server::web
