#pragma once
// The gate every remote command passes: the login comes first, then the
// privileges of the user as the user store has them when the command
// arrives, then the lock; every dial, hang-up, lock change and shutdown it
// hears leaves an audit row, refused or not. The wire's dispatch calls it,
// and any other way in must too, so two ways in cannot disagree.

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velora::server::state {
class DialControl;
class Shutdown;
struct ServerState;
}  // namespace velora::server::state
namespace velora::server::users {
class UserStore;
struct UserRecord;
}  // namespace velora::server::users

namespace velora::server::clientservice {

class Session;
class StatusPush;
struct TSimpleClient;
class StrangerGuard;

// What a command needs beyond the login.
enum class Privilege { None, DialHangup, UnlockAll, Shutdown };

// Who sends a command, whichever way it came in.
struct Caller {
    TSimpleClient &record;
    // The address the connection comes from, as the system saw it.
    const std::string &peer;
    // The login it holds: its privileges are looked up again at each command.
    const std::string &loginName;
    const std::string &loginCipher;
    // What the audit row names as the host.
    const std::string &host;
};

// What became of a command.
enum class Verdict { Done, Refused, MailboxFull };
struct Outcome {
    Verdict verdict = Verdict::Done;
    std::string why;  // of a refusal, as the audit row says it
};

// A login checked for another way in, with the wire's back-off.
struct LoginCheck {
    enum class Answer { Accepted, Refused, HeldBack } answer = Answer::Refused;
    std::string description, unlockAll, dialHangup, shutdown;
    std::string reason;
    std::int64_t retryAfterMs = 0;
};

class CommandGate : public QObject {
    Q_OBJECT
public:
    CommandGate(state::ServerState &state, users::UserStore &users, state::Shutdown &shutdown,
                std::function<int()> readShutdownMode, StatusPush &push, StrangerGuard &strangers,
                QObject *parent = nullptr);

    void setDialControl(state::DialControl *dial) { dial_ = dial; }
    // Sessions one user may hold at once; 0 for no bound.
    void setMaxPerUser(int count) { maxPerUser_ = count; }

    // One command line of a session.
    void handleLine(Session &session, const std::string &line);
    // A logged-in caller's command, split into its fields ("dial", entry,
    // dialler): the same rules and rows as a wire line.
    Outcome command(const Caller &caller, const std::vector<std::string> &fields);
    // A login from another way in: the address's back-off first, failures
    // counted with the wire's.
    LoginCheck checkLogin(const std::string &peer, const std::string &name, const std::string &cipher);
    // Once a second at most per user and address: how many commands a
    // flood left off the audit trail.
    void tellLeftOut();

    // The privilege a command word needs.
    static Privilege privilegeFor(const std::string &word);
    // Whether the user record grants it.
    static bool grants(const users::UserRecord &user, Privilege privilege);
    // Why a user who logged in as name/cipher may not do this now; empty
    // when it may. The user store is asked as it is now.
    std::string refusal(const std::string &name, const std::string &cipher, Privilege privilege) const;

    // A client that repeats commands in a loop, or reconnects in one, must
    // not fill the disk with audit rows: a burst of this many per user and
    // per address, then one a second.
    static constexpr int AuditBurst = 30;
    static constexpr std::size_t MaxBuckets = 4096;
    // Texts of the login line that every status record repeats.
    static constexpr std::size_t MaxClientNameBytes = 255;
    static constexpr std::size_t MaxAddressBytes = 45;
    // The dialler's name as the log keeps it.
    static constexpr std::size_t MaxDialerBytes = 64;

    // A message record with the sender fields of the session that sends it.
    static std::string honestRecord(const TSimpleClient &sender, const std::string &record);

signals:
    // Something went wrong that only the operator can be told of.
    void problem(const std::string &text);
    // A line for the server's log: failed logins.
    void notice(const std::string &text);
    // A client asked for a dial, hang-up, lock change or shutdown: who, from
    // where, what.
    void commandHeard(const std::string &user, const std::string &host, const std::string &address,
                      const std::string &action, const std::string &detail);

private:
    void login(Session &session, const std::vector<std::string> &fields);
    void loginFailed(const std::string &peer, const std::string &user, const char *how);
    // The privilege, then the lock; a refusal is audited and answered with
    // the status record. Empty when the command may go on, else why not.
    std::string permitted(const Caller &caller, const std::string &word, const std::string &detail);
    std::string lineFree(const Caller &caller, const std::string &word, const std::string &detail);
    std::string refused(const Caller &caller, const std::string &word, const std::string &detail,
                        const std::string &why);
    void shutdownRequest(const std::string &asker);
    void heard(const Caller &caller, const std::string &action, const std::string &detail = {});
    std::string dialDetail(const std::string &entry) const;
    std::size_t sessionsOf(const std::string &user) const;
    struct AuditBucket {
        double tokens = AuditBurst;
        std::int64_t refilledAt = 0;
        std::size_t leftOut = 0;
        std::string user, host, address;  // of the last command counted here
    };
    AuditBucket &bucket(const std::string &key, std::int64_t now);

    state::ServerState &state_;
    users::UserStore &users_;
    state::Shutdown &shutdown_;
    std::function<int()> readShutdownMode_;
    StatusPush &push_;
    StrangerGuard &strangers_;
    state::DialControl *dial_ = nullptr;
    int maxPerUser_ = 8;
    std::map<std::string, AuditBucket> buckets_;
};

}  // namespace velora::server::clientservice
