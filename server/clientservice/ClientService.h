#pragma once
// The client service: sessions on the listener's connections, the commands
// they send, the client list with the server's own record first, and the
// push lines the status tick writes. Everything runs on the event loop.

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/LineFramer.h"
#include "server/clientservice/ClientRow.h"
#include "server/clientservice/StrangerGuard.h"
#include "server/clientservice/TSimpleClient.h"
#include "server/state/DialControl.h"
#include "server/state/ServerState.h"

class QTcpSocket;

namespace velora::server::state {
class Shutdown;
}
namespace velora::server::users {
class UserStore;
}

namespace velora::server::clientservice {


class ClientService;

class Session : public QObject {
    Q_OBJECT
public:
    Session(QTcpSocket *socket, ClientService &service);
    ~Session() override;

    TSimpleClient record;
    bool inList = false;
    // The address the connection comes from, as the system saw it.
    std::string peer;
    std::int64_t acceptedAt = 0;
    // The login line waits out its address's back-off; other lines are dropped.
    bool loginHeld = false;
    // The audit rows this session may still write now, refilled over time,
    // and the commands left out meanwhile.
    double auditTokens = -1;  // below 0: not started
    std::int64_t auditRefilledAt = 0;
    std::size_t auditLeftOut = 0;

    // Queues a line (CR LF appended). A peer that leaves more than
    // MaxQueuedBytes unread is closed.
    void writeLine(const std::string &line);
    // An already framed line; shared, not copied, when many get the same.
    void writeFramed(const QByteArray &framed);
    // Ends the session at once; the disconnect handling follows.
    void abort();
    // Sends what is queued, then closes.
    void closeAfterWrite();
    bool isClosing() const { return closing_; }
    // Stops taking lines from the peer until resumeReading; the kernel's
    // window then holds the sender back.
    void pauseReading() { paused_ = true; }
    bool isPaused() const { return paused_; }
    void resumeReading();
    QTcpSocket *socket() const { return socket_; }
    std::size_t queuedBytes() const;

    static constexpr std::size_t MaxQueuedBytes = 1 << 20;

private:
    void onReadyRead();
    QTcpSocket *socket_;
    ClientService &service_;
    LineFramer framer_;
    bool closing_ = false;
    bool paused_ = false;
};

// The listener for sessions. Its sockets read straight from the system
// instead of through a buffer of their own: an idle session then costs a
// few hundred bytes, not a read buffer.
class SessionListener : public QTcpServer {
    Q_OBJECT
public:
    explicit SessionListener(QObject *parent = nullptr);

    // Raises the soft descriptor limit to the hard one; says what it did.
    static std::string raiseDescriptorLimit();

signals:
    // Connections closed at once because the descriptors left are reserved.
    void refusedUnseen(std::size_t count);

protected:
    void incomingConnection(qintptr descriptor) override;

public:
    // The last descriptors below the limit are kept for the log, the line's
    // children and look-ups: a connection that would take one is closed at
    // once. 0 (the default) keeps none.
    void setDescriptorReserve(int count) { reserve_ = count; }

private:
    int reserve_ = 0;
};

class ClientService : public QObject {
    Q_OBJECT
public:
    ClientService(state::ServerState &state, users::UserStore &users, state::Shutdown &shutdown,
                  std::function<int()> readShutdownMode, QObject *parent = nullptr);
    ~ClientService() override;

    void setDialControl(state::DialControl *dial) { dial_ = dial; }

    // A connection the listener accepted; the service owns it from now on,
    // or closes it at once when the bounds on strangers say so.
    void accept(QTcpSocket *socket);

    void setStrangerLimits(const StrangerLimits &limits) { strangers_.setLimits(limits); }
    StrangerGuard &strangers() { return strangers_; }
    // Sessions that have not logged in.
    std::size_t pendingCount() const;

    // Online: item 0 is the server's own record. Offline: every session is
    // closed and the list emptied.
    void addOwnRecord(const std::string &name, const std::string &address);
    void goOffline();

    const std::vector<TSimpleClient *> &clientList() const { return list_; }
    std::size_t sessionCount() const { return sessions_.size(); }

    // ---- status tick steps, in tick order ----
    void closeOverdueStrangers();   // and the line about refusals, when due
    void updateLockStatus();        // the line lock word
    void buildClientLists();        // names, locks, addresses
    void pollClients();             // close those that stopped answering
    void markTrafficSubscribers();  // while connected
    const std::string &buildStatusRecordText();
    void handOperatorInbox();
    void updateOperatorLock();
    void pushIfDue();               // compare, refresh views, broadcast, write
    void countdowns();
    // All of the above in order; what the tick calls.
    void runTickSteps();

    void UpdateClientList();
    void Broadcastmessage();
    void sendclientdata();

    // ---- chat ----
    // True when some mailbox now holds more than MailboxHighWater bytes.
    bool deliverFromClient(const std::string &recipient, const std::string &record);
    void pesanserver(const std::string &recipient, const std::string &record);

    // A client that repeats commands in a loop must not fill the disk with
    // audit rows: a burst of this many, then one a second.
    static constexpr int AuditBurst = 30;

    // Mail waiting beyond this stops the senders' sessions from being read
    // until the next tick has sent it.
    static constexpr std::size_t MailboxHighWater = 256 * 1024;
    // A record must fit one push line beside the traffic part.
    static constexpr std::size_t MaxRecordBytes = LineFramer::MaxLineLength - 4 - 42;
    // Texts of the login line that every status record repeats.
    static constexpr std::size_t MaxClientNameBytes = 255;
    static constexpr std::size_t MaxAddressBytes = 45;

    // ---- the operator's lock buttons ----
    void operatorLock();
    void operatorUnlock();
    void unlockAll();
    const std::string &operatorLockWord() const { return operatorLockWord_; }

    // The latest traffic sample, download â upload â.
    void setTrafficText(std::string text) { trafficText_ = std::move(text); }
    const std::string &trafficFor(const TSimpleClient &rec) const;
    int statusFresh() const { return statusFresh_; }
    int pollCount() const { return pollCount_; }
    const std::string &statusRecordText() const { return statusRecordText_; }

    // Used by sessions.
    void handleLine(Session &session, const std::string &line);
    void sessionEnded(Session *session);

signals:
    void clientListUpdated(const std::vector<velora::server::clientservice::ClientRow> &rows);
    // Messages for the operator, as received (message records).
    void serverInboxReady(const std::string &records);
    void operatorLockChanged(bool locking);
    // Items 1 to 11 changed on this tick.
    void statusRecordChanged();
    // Something went wrong that only the operator can be told of.
    void problem(const std::string &text);
    // A line for the server's log: refusals, failed logins.
    void notice(const std::string &text);
    // A client asked for a dial, hang-up, lock change or shutdown: who, from
    // where, what.
    void commandHeard(const std::string &user, const std::string &host, const std::string &address,
                      const std::string &action, const std::string &detail);

private:
    void login(Session &session, const std::vector<std::string> &fields);
    void shutdownRequest(const std::string &asker);
    void appendToMailbox(TSimpleClient &record, const std::string &message);
    void writePushLines(Session &session, const std::string &status);
    void resumePausedSessions();
    void loginFailed(Session &session, const std::string &user, const char *how);

    void giveBackMemory();
    // The lock word and its time together, so "since" never goes stale.
    static void setLock(TSimpleClient &record, bool locking);
    void heard(Session &session, const std::string &action, const std::string &detail = {});

    StrangerGuard strangers_;
    std::size_t peakSessions_ = 0;

    state::ServerState &state_;
    users::UserStore &users_;
    state::Shutdown &shutdown_;
    std::function<int()> readShutdownMode_;
    state::DialControl *dial_ = nullptr;

    std::unique_ptr<TSimpleClient> own_;
    std::vector<TSimpleClient *> list_;
    std::vector<Session *> sessions_;

    std::string names_, locks_, addresses_;
    std::string statusRecordText_ = "w";
    std::string previousStatusRecord_ = "w";
    int statusFresh_ = 0;
    int pollCount_ = 0;
    std::string serverInbox_;
    std::string operatorLockWord_;
    std::string trafficText_;
};

}  // namespace velora::server::clientservice
