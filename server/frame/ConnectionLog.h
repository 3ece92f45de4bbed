#pragma once
// The connection log's part of the core, on the one connection to
// config/log.db: a connection's row (written at its first online second,
// updated each minute, finalised when the line drops), the month's cost, the
// operator's clearing of rows, and the audit trail's rows and their pruning.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/Prompter.h"
#include "server/log/LogDatabase.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

class ConnectionLog : public QObject {
    Q_OBJECT
public:
    explicit ConnectionLog(QObject *parent = nullptr) : QObject(parent) {}

    log::LogDatabase &database() { return log_; }
    const log::LogDatabase &database() const { return log_; }

    // The online-time tick's step for the connection's row. The row is kept
    // as the dial's [dial] connectionlogging said.
    void recordConnection(state::ServerState &state);
    // A row of the current connection is in the log and still to be finalised.
    bool rowOpen() const { return rowOpen_; }
    // This month's cost of the log, in ten-thousandths.
    std::optional<std::int64_t> monthCost();
    // The rows the viewer shows, after asking; never while a connection's
    // row is being written.
    bool clearLog(const log::LogFilter &filter, bool connected, Prompter &prompter);

    // One audit row; a failed write is told once, the line goes on.
    void audit(const std::string &user, const std::string &host, const std::string &address,
               const std::string &action, const std::string &detail);
    // The operator's or the server's own row, from this computer.
    void audit(const std::string &user, const std::string &action, const std::string &detail);
    // Status tick: audit rows older than [log] auditdays go, a few at a
    // time; the days are asked only when a batch is due.
    void pruneAuditStep(const std::function<int()> &days);

signals:
    // Rows or costs changed: the viewer shows them again.
    void rowsChanged();
    void auditChanged();
    void problem(const QString &text);

private:
    log::LogDatabase log_;
    bool rowOpen_ = false;
    bool auditFailureTold_ = false;
    int pruneCountdown_ = 1;
};

}  // namespace velora::server::frame
