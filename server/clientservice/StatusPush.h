#pragma once
// The push: the client list with the server's own record first, the status
// record built on each tick, the mailboxes and the push lines, and the
// polling that lets go of clients that stopped answering.

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "common/LineFramer.h"
#include "server/clientservice/ClientRow.h"
#include "server/clientservice/TSimpleClient.h"
#include "server/state/ServerState.h"

namespace velora::server::clientservice {

class Session;

class StatusPush : public QObject {
    Q_OBJECT
public:
    explicit StatusPush(state::ServerState &state, QObject *parent = nullptr);

    // Online: item 0 is the server's own record. Offline: it goes.
    void addOwnRecord(const std::string &name, const std::string &address);
    void removeOwnRecord();
    bool hasOwnRecord() const { return own_ != nullptr; }
    // A session whose login was answered "OK" joins the list; an ending one
    // leaves it.
    void join(TSimpleClient &record);
    void leave(TSimpleClient &record);
    const std::vector<TSimpleClient *> &clientList() const { return list_; }

    // ---- status tick steps, in tick order ----
    void updateLockStatus();        // the line lock word
    void buildClientLists();        // names, locks, addresses
    void pollClients();             // close those that stopped answering
    void markTrafficSubscribers();  // while connected
    const std::string &buildStatusRecordText();
    void handOperatorInbox();
    void updateOperatorLock();
    void pushIfDue();               // compare, refresh views, broadcast, write
    void countdowns();

    void UpdateClientList();
    void Broadcastmessage();
    void sendclientdata();

    // ---- chat ----
    // True when some mailbox now holds more than MailboxHighWater bytes.
    bool deliverFromClient(const std::string &recipient, const std::string &record);
    void pesanserver(const std::string &recipient, const std::string &record);

    // Mail waiting beyond this stops the senders' sessions from being read
    // until the next tick has sent it.
    static constexpr std::size_t MailboxHighWater = 256 * 1024;
    // A record must fit one push line beside the traffic part.
    static constexpr std::size_t MaxRecordBytes = LineFramer::MaxLineLength - 4 - 42;

    // ---- locks ----
    // The lock word and its time together, so "since" never goes stale.
    static void setLock(TSimpleClient &record, bool locking);
    void operatorLock();
    void operatorUnlock();
    void unlockAll();
    state::ClientLock operatorLockState() const { return operatorLock_; }

    // The latest traffic sample, download â upload â.
    void setTrafficText(std::string text) { trafficText_ = std::move(text); }
    int statusFresh() const { return statusFresh_; }
    int pollCount() const { return pollCount_; }
    const std::string &statusRecordText() const { return statusRecordText_; }

signals:
    void clientListUpdated(const std::vector<velora::server::clientservice::ClientRow> &rows);
    // Messages for the operator, as received (message records).
    void serverInboxReady(const std::string &records);
    void operatorLockChanged(bool locking);
    // Items 1 to 11 changed on this tick.
    void statusRecordChanged();

private:
    void writePushLines(Session &session, const std::string &status);

    state::ServerState &state_;
    std::unique_ptr<TSimpleClient> own_;
    std::vector<TSimpleClient *> list_;
    std::string names_, locks_, addresses_;
    std::string statusRecordText_ = "w";
    int statusFresh_ = 0;
    int pollCount_ = 0;
    std::string serverInbox_;
    state::ClientLock operatorLock_ = state::ClientLock::Free;
    std::string trafficText_;
};

}  // namespace velora::server::clientservice
