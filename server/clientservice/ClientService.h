#pragma once
// The client service: the transport (listener, sessions, strangers), the
// gate every command passes, and the push (client list, status record,
// mailboxes, push lines), wired together. Everything runs on the event loop.

#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "server/clientservice/ClientRow.h"
#include "server/clientservice/CommandGate.h"
#include "server/clientservice/StatusPush.h"
#include "server/clientservice/Transport.h"

namespace velora::server::state {
class DialControl;
class Shutdown;
}  // namespace velora::server::state

namespace velora::server::clientservice {

class ClientService : public QObject {
    Q_OBJECT
public:
    ClientService(state::ServerState &state, users::UserStore &users, state::Shutdown &shutdown,
                  std::function<int()> readShutdownMode, QObject *parent = nullptr);

    Transport &transport() { return transport_; }
    const Transport &transport() const { return transport_; }
    CommandGate &gate() { return gate_; }
    StatusPush &push() { return push_; }

    void setDialControl(state::DialControl *dial) { gate_.setDialControl(dial); }
    // A connection accepted elsewhere (tests); the listener's own come here too.
    void accept(QTcpSocket *socket) { transport_.accept(socket); }
    void setStrangerLimits(const StrangerLimits &limits)
    {
        transport_.setStrangerLimits(limits);
        gate_.setMaxPerUser(limits.maxPerUser);
    }
    StrangerGuard &strangers() { return transport_.strangers(); }
    std::size_t pendingCount() const { return transport_.pendingCount(); }
    std::size_t sessionCount() const { return transport_.sessions().size(); }

    // Online: item 0 is the server's own record. Offline: every session is
    // closed and the list emptied.
    void addOwnRecord(const std::string &name, const std::string &address) { push_.addOwnRecord(name, address); }
    void goOffline();
    const std::vector<TSimpleClient *> &clientList() const { return push_.clientList(); }

    // The status tick's steps in order.
    void runTickSteps();
    void updateLockStatus() { push_.updateLockStatus(); }
    void UpdateClientList() { push_.UpdateClientList(); }

    void pesanserver(const std::string &recipient, const std::string &record) { push_.pesanserver(recipient, record); }
    void operatorLock() { push_.operatorLock(); }
    void operatorUnlock() { push_.operatorUnlock(); }
    void unlockAll() { push_.unlockAll(); }
    state::ClientLock operatorLockState() const { return push_.operatorLockState(); }
    void setTrafficText(std::string text) { push_.setTrafficText(std::move(text)); }
    int statusFresh() const { return push_.statusFresh(); }
    int pollCount() const { return push_.pollCount(); }
    const std::string &statusRecordText() const { return push_.statusRecordText(); }

    static constexpr int AuditBurst = CommandGate::AuditBurst;

signals:
    void clientListUpdated(const std::vector<velora::server::clientservice::ClientRow> &rows);
    void serverInboxReady(const std::string &records);
    void operatorLockChanged(bool locking);
    void statusRecordChanged();
    void problem(const std::string &text);
    void notice(const std::string &text);
    void commandHeard(const std::string &user, const std::string &host, const std::string &address,
                      const std::string &action, const std::string &detail);

private:
    void ended(Session &session);

    StatusPush push_;
    Transport transport_;
    CommandGate gate_;
};

}  // namespace velora::server::clientservice
