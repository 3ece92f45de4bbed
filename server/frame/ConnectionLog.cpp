#include "server/frame/ConnectionLog.h"

#include <QDate>
#include <QDateTime>

#include "server/frame/OwnRecord.h"
#include "server/state/Text.h"

namespace velora::server::frame {

void ConnectionLog::recordConnection(state::ServerState &state)
{
    const bool connected = state.ActiveStatus == state::LinkState::Connected;
    // Cached at the dial, so a switch-off since does not cut a logged dial short.
    const bool logging = state.dialSettings.connectionlogging;
    if (connected && logging) {
        if (!rowOpen_) {
            if (log_.writelog(0, state)) {
                rowOpen_ = true;
                emit rowsChanged();
            }
        } else if (state.SecondsOnline != 0 && state.SecondsOnline % 60 == 0) {
            if (log_.writelog(1, state))
                emit rowsChanged();
        }
    } else {
        if (rowOpen_ && log_.writelog(1, state))
            emit rowsChanged();
        // Closed even when the last update failed: the next connection must
        // start a row of its own, never write into this one.
        rowOpen_ = false;
        log_.forgetRow();
    }
}

std::optional<std::int64_t> ConnectionLog::monthCost()
{
    return log_.costTenThousandths(log::monthOf(QDate::currentDate()));
}

bool ConnectionLog::clearLog(const log::LogFilter &filter, bool connected, Prompter &prompter)
{
    // The open connection's row is still being written by the second tick.
    if (connected) {
        prompter.tell(Prompter::Kind::Information, "Can not clear log while connection is online\nHang up first");
        return false;
    }
    if (prompter.ask("Do you really want to erase all log that shows in the grid ?",
                     {Prompter::Button::Yes, Prompter::Button::Cancel}) != Prompter::Button::Yes)
        return false;
    if (!log_.clearLog(filter))
        return false;
    emit rowsChanged();
    return true;
}

void ConnectionLog::audit(const std::string &user, const std::string &action, const std::string &detail)
{
    audit(user, ownClientName(), ownAddress(), action, detail);
}

void ConnectionLog::audit(const std::string &user, const std::string &host, const std::string &address,
                          const std::string &action, const std::string &detail)
{
    log::AuditRow row;
    row.time = QDateTime::currentSecsSinceEpoch();
    row.user = user;
    row.host = host;
    row.address = address;
    row.action = action;
    row.detail = detail;
    if (log_.audit(row)) {
        auditFailureTold_ = false;
        emit auditChanged();
        return;
    }
    if (log_.isOpen() && !auditFailureTold_) {
        auditFailureTold_ = true;
        emit problem(state::shownMessage("The audit trail could not be written; the line goes on."));
    }
}

void ConnectionLog::pruneAuditStep(const std::function<int()> &days)
{
    // Once a minute, or on every tick while a backlog of old rows goes.
    if (--pruneCountdown_ > 0)
        return;
    constexpr int Batch = 500;
    const std::int64_t before = QDateTime::currentSecsSinceEpoch() - std::int64_t{86400} * days();
    const auto removed = log_.pruneAudit(before, Batch);
    pruneCountdown_ = removed && *removed == Batch ? 1 : 120;
}

}  // namespace velora::server::frame
