#include "server/clientservice/ClientService.h"

namespace velora::server::clientservice {

ClientService::ClientService(state::ServerState &state, users::UserStore &users, state::Shutdown &shutdown,
                             std::function<int()> readShutdownMode, QObject *parent)
    : QObject(parent), push_(state),
      transport_([this](Session &s, const std::string &line) { gate_.handleLine(s, line); },
                 [this](Session &s) { ended(s); }),
      gate_(state, users, shutdown, std::move(readShutdownMode), push_, transport_.strangers())
{
    connect(&push_, &StatusPush::clientListUpdated, this, &ClientService::clientListUpdated);
    connect(&push_, &StatusPush::serverInboxReady, this, &ClientService::serverInboxReady);
    connect(&push_, &StatusPush::operatorLockChanged, this, &ClientService::operatorLockChanged);
    connect(&push_, &StatusPush::statusRecordChanged, this, &ClientService::statusRecordChanged);
    connect(&gate_, &CommandGate::problem, this, &ClientService::problem);
    connect(&gate_, &CommandGate::notice, this, &ClientService::notice);
    connect(&transport_, &Transport::notice, this, &ClientService::notice);
    connect(&gate_, &CommandGate::commandHeard, this, &ClientService::commandHeard);
}

void ClientService::ended(Session &session)
{
    push_.leave(session.record);
}

void ClientService::goOffline()
{
    transport_.closeAll();
    push_.removeOwnRecord();
}

void ClientService::runTickSteps()
{
    transport_.closeOverdueStrangers();
    gate_.tellLeftOut();
    push_.updateLockStatus();
    push_.buildClientLists();
    push_.pollClients();
    push_.markTrafficSubscribers();
    push_.buildStatusRecordText();
    push_.handOperatorInbox();
    push_.updateOperatorLock();
    push_.pushIfDue();
    push_.countdowns();
    transport_.resumePaused();
}

}  // namespace velora::server::clientservice
