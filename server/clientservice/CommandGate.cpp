#include "server/clientservice/CommandGate.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

#include "common/WireCodec.h"
#include "server/clientservice/Session.h"
#include "server/clientservice/StatusPush.h"
#include "server/clientservice/StrangerGuard.h"
#include "server/state/DialControl.h"
#include "server/state/ServerState.h"
#include "server/state/Shutdown.h"
#include "server/users/UserStore.h"

namespace velora::server::clientservice {

CommandGate::CommandGate(state::ServerState &state, users::UserStore &users, state::Shutdown &shutdown,
                         std::function<int()> readShutdownMode, StatusPush &push, StrangerGuard &strangers,
                         QObject *parent)
    : QObject(parent), state_(state), users_(users), shutdown_(shutdown),
      readShutdownMode_(std::move(readShutdownMode)), push_(push), strangers_(strangers)
{
}

Privilege CommandGate::privilegeFor(const std::string &word)
{
    if (word == "dial" || word == "hangup")
        return Privilege::DialHangup;
    if (word == "unlockall")
        return Privilege::UnlockAll;
    if (word == "shutdown")
        return Privilege::Shutdown;
    return Privilege::None;
}

bool CommandGate::grants(const users::UserRecord &user, Privilege privilege)
{
    switch (privilege) {
    case Privilege::None:
        return true;
    case Privilege::DialHangup:
        return state::flagFromText(user.dialHangup);
    case Privilege::UnlockAll:
        return state::flagFromText(user.unlockAll);
    case Privilege::Shutdown:
        return state::flagFromText(user.shutdown);
    }
    return false;
}

std::string CommandGate::refusal(const std::string &name, const std::string &cipher, Privilege privilege) const
{
    const users::LoginResult now = users_.check(name, cipher);
    if (now.outcome != users::LoginResult::Outcome::Accepted)
        return "refused: the login is no longer valid";
    if (grants(now.record, privilege))
        return {};
    switch (privilege) {
    case Privilege::DialHangup:
        return "refused: no dial privilege";
    case Privilege::UnlockAll:
        return "refused: no unlock-all privilege";
    case Privilege::Shutdown:
        return "refused: no shutdown privilege";
    case Privilege::None:
        break;
    }
    return {};
}

namespace {
// A user name as a log line may show it: printable ASCII, not too long.
std::string loggable(const std::string &text)
{
    std::string out;
    for (const char c : text.substr(0, 64))
        out += c >= 0x20 && c < 0x7F ? c : '?';
    return out;
}
}  // namespace

namespace {

bool isLoopback(const std::string &address)
{
    return address.rfind("127.", 0) == 0 || address == "::1";
}

// Control bytes would rewrite a terminal or a report cell; a name is short.
std::string printableName(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F)
            out += c;
        if (out.size() == CommandGate::MaxDialerBytes)
            break;
    }
    return out;
}

}  // namespace

std::string CommandGate::honestRecord(const TSimpleClient &sender, const std::string &whole)
{
    // One record a line: a second one would carry sender fields unchecked.
    const std::size_t end = whole.find(wire::RecordSep);
    const std::string record = end == std::string::npos ? whole : whole.substr(0, end + 1);
    // The sender fields are the session's own: nobody writes as the
    // operator or as another computer. A truthful record passes as it is.
    const std::size_t a = record.find(wire::ListSep);
    const std::size_t n = a == std::string::npos ? a : record.find(wire::ListSep, a + 1);
    if (n != std::string::npos && record.compare(0, a, sender.Address) == 0 &&
        record.compare(a + 1, n - a - 1, sender.ClientName) == 0)
        return record;
    const std::string rest = n == std::string::npos ? std::string(1, wire::ListSep) + wire::LineSep + wire::ListSep +
                                                          wire::RecordSep
                                                    : record.substr(n + 1);
    return sender.Address + wire::ListSep + sender.ClientName + wire::ListSep + rest;
}

std::string CommandGate::dialDetail(const std::string &entry) const
{
    if (entry.empty())
        return "no entry given";
    if (std::find(state_.EntryNames.begin(), state_.EntryNames.end(), entry) == state_.EntryNames.end())
        return entry + " (no such entry)";
    return entry;
}

std::string CommandGate::permitted(const Caller &caller, const std::string &word, const std::string &detail)
{
    std::string why = refusal(caller.loginName, caller.loginCipher, privilegeFor(word));
    if (why.empty())
        return {};
    if (word == "hangup" && why == "refused: no dial privilege")
        why = "refused: no hang-up privilege";
    return refused(caller, word, detail, why);
}

std::string CommandGate::lineFree(const Caller &caller, const std::string &word, const std::string &detail)
{
    if (state_.LockStatus == state::LineLock::Free)
        return {};
    return refused(caller, word, detail, "refused: the line is locked");
}

std::string CommandGate::refused(const Caller &caller, const std::string &word, const std::string &detail,
                                 const std::string &why)
{
    heard(caller, word, detail.empty() ? why : detail + " (" + why + ")");
    // Nothing changes; the sender still hears where the line stands.
    caller.record.StatusOwed = true;
    return why;
}

void CommandGate::handleLine(Session &session, const std::string &line)
{
    const auto f = wire::parseCommandLine(line);
    if (f.empty() || session.loginHeld)
        return;
    if (f[0] == "connect") {
        login(session, f);
        return;
    }
    // Until its login is answered "OK", a connection is a stranger.
    if (!session.inList)
        return;
    const Caller caller{session.record, session.peer, session.loginName, session.loginCipher,
                        session.record.ClientName};
    if (command(caller, f).verdict == Verdict::MailboxFull)
        session.pauseReading();
}

Outcome CommandGate::command(const Caller &caller, const std::vector<std::string> &f)
{
    if (f.empty())
        return {};
    const std::string &word = f[0];
    TSimpleClient &rec = caller.record;
    const auto no = [](std::string why) { return Outcome{Verdict::Refused, std::move(why)}; };
    if (word == "stat") {
        state_.StatusChanged = 2;
    } else if (word == "trm") {
        rec.Alive = "1";
    } else if (word == "dial") {
        const std::string &entry = wire::at(f, 1);
        const std::string detail = dialDetail(entry);
        if (std::string why = permitted(caller, word, detail); !why.empty())
            return no(why);
        // The engine's entry follows every permitted dial, locked or not; a
        // dial that goes ahead sets it itself.
        if (std::string why = lineFree(caller, word, detail); !why.empty()) {
            if (dial_)
                dial_->setDialEntry(entry);
            return no(why);
        }
        rec.StatusOwed = true;
        heard(caller, "dial", detail);
        if (dial_)
            dial_->executedial(entry, printableName(wire::at(f, 2)));
    } else if (word == "hangup") {
        if (std::string why = permitted(caller, word, {}); !why.empty())
            return no(why);
        if (std::string why = lineFree(caller, word, {}); !why.empty())
            return no(why);
        rec.StatusOwed = true;
        heard(caller, "hangup");
        if (dial_)
            dial_->executehangup();
    } else if (word == "lock") {
        StatusPush::setLock(rec, rec.LockState == state::ClientLock::Free);
        heard(caller, rec.LockState == state::ClientLock::Free ? "unlock" : "lock");
    } else if (word == "unlockall") {
        if (std::string why = permitted(caller, word, {}); !why.empty())
            return no(why);
        heard(caller, "unlockall");
        push_.unlockAll();
        state_.StatusChanged = 1;
    } else if (word == "shutdown") {
        if (std::string why = permitted(caller, word, {}); !why.empty())
            return no(why);
        heard(caller, "shutdown");
        // Heard: the sender gets the status record as a sign.
        rec.StatusOwed = true;
        shutdownRequest(rec.ClientName);
    } else if (word == "pesan") {
        if (push_.deliverFromClient(wire::at(f, 1), honestRecord(rec, wire::at(f, 2))))
            return {Verdict::MailboxFull, {}};
    } else if (word == "bandwidth") {
        rec.MeterWanted = wire::at(f, 1) == "active";
    }
    return {};
}

LoginCheck CommandGate::checkLogin(const std::string &peer, const std::string &name, const std::string &cipher)
{
    LoginCheck c;
    if (const std::int64_t heldUntil = strangers_.loginHeldUntil(peer); heldUntil > 0) {
        c.answer = LoginCheck::Answer::HeldBack;
        c.retryAfterMs = std::max<std::int64_t>(1, heldUntil - strangers_.now());
        return c;
    }
    const users::LoginResult r = users_.check(name, cipher);
    if (r.outcome != users::LoginResult::Outcome::Accepted) {
        c.reason = r.outcome == users::LoginResult::Outcome::Malformed ? "malformed password field" : r.reason;
        loginFailed(peer, name, c.reason.c_str());
        return c;
    }
    strangers_.loginSucceeded(peer);
    c.answer = LoginCheck::Answer::Accepted;
    c.description = r.record.description;
    c.unlockAll = r.record.unlockAll;
    c.dialHangup = r.record.dialHangup;
    c.shutdown = r.record.shutdown;
    return c;
}

void CommandGate::login(Session &session, const std::vector<std::string> &f)
{
    // An address that keeps guessing waits before its next guess is checked.
    const std::int64_t heldUntil = strangers_.loginHeldUntil(session.peer);
    if (heldUntil > 0) {
        session.loginHeld = true;
        const auto wait = std::chrono::milliseconds(std::max<std::int64_t>(1, heldUntil - strangers_.now()));
        QTimer::singleShot(wait, &session, [this, s = &session, f] {
            s->loginHeld = false;
            if (!s->isClosing())
                login(*s, f);
        });
        return;
    }
    TSimpleClient &rec = session.record;
    // Every client's status record carries these: one long name would make
    // everybody's push lines too long to read.
    rec.ClientName = wire::at(f, 1).substr(0, MaxClientNameBytes);
    rec.Address = wire::at(f, 2).substr(0, MaxAddressBytes);
    // Mail is routed by address: a computer that claims another's gets its
    // own instead. A connection from this computer may name any.
    if (rec.Address != session.peer && !isLoopback(session.peer))
        rec.Address = session.peer;
    const users::LoginResult r = users_.check(wire::at(f, 3), wire::at(f, 4));
    if (r.outcome == users::LoginResult::Outcome::Accepted && !session.inList && maxPerUser_ > 0 &&
        sessionsOf(wire::at(f, 3)) >= static_cast<std::size_t>(maxPerUser_)) {
        emit notice("login from " + session.peer + " as \"" + loggable(wire::at(f, 3)) + "\" refused: " +
                    std::to_string(maxPerUser_) + " sessions of that user are open");
        session.writeLine(wire::buildLoginRefused("too many sessions of this user"));
        session.closeAfterWrite();
        return;
    }
    switch (r.outcome) {
    case users::LoginResult::Outcome::Accepted:
        strangers_.loginSucceeded(session.peer);
        rec.UserName = wire::at(f, 3).substr(0, MaxClientNameBytes);
        session.loginName = wire::at(f, 3);
        session.loginCipher = wire::at(f, 4);
        session.writeLine(wire::buildLoginAccepted(r.record.description, r.record.unlockAll,
                                                   r.record.dialHangup, r.record.shutdown));
        if (!session.inList && !session.isClosing()) {
            push_.join(rec);
            session.inList = true;
        }
        break;
    case users::LoginResult::Outcome::Refused:
        loginFailed(session.peer, wire::at(f, 3), r.reason.c_str());
        session.writeLine(wire::buildLoginRefused(r.reason));
        session.closeAfterWrite();
        break;
    case users::LoginResult::Outcome::Malformed:
        loginFailed(session.peer, wire::at(f, 3), "malformed password field");
        session.abort();
        break;
    }
}

std::size_t CommandGate::sessionsOf(const std::string &user) const
{
    std::size_t n = 0;
    for (const TSimpleClient *r : push_.clientList())
        if (r->session && r->session->loginName == user)
            ++n;
    return n;
}

void CommandGate::loginFailed(const std::string &peer, const std::string &user, const char *how)
{
    strangers_.loginFailed(peer);
    std::string text = "failed login from " + peer + " as \"" + loggable(user) + "\": " + how;
    if (const std::int64_t until = strangers_.loginHeldUntil(peer))
        text += "; its next login is checked in " + std::to_string((until - strangers_.now() + 999) / 1000) + " s";
    emit notice(text);
}

CommandGate::AuditBucket &CommandGate::bucket(const std::string &key, std::int64_t now)
{
    if (buckets_.size() >= MaxBuckets && !buckets_.count(key)) {
        // Full and quiet ones say nothing that a new one would not.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            AuditBucket &b = it->second;
            const bool quiet = b.leftOut == 0 && b.tokens + (now - b.refilledAt) / 1000.0 >= AuditBurst;
            it = quiet ? buckets_.erase(it) : std::next(it);
        }
    }
    auto [it, added] = buckets_.try_emplace(key);
    AuditBucket &b = it->second;
    if (added)
        b.refilledAt = now;
    b.tokens = std::min<double>(AuditBurst, b.tokens + (now - b.refilledAt) / 1000.0);
    b.refilledAt = now;
    return b;
}

void CommandGate::heard(const Caller &caller, const std::string &action, const std::string &detail)
{
    // Counted per user and per address, across connections: reconnecting
    // does not buy a new burst.
    const std::int64_t now = strangers_.now();
    const TSimpleClient &rec = caller.record;
    AuditBucket &user = bucket("u:" + rec.UserName, now);
    AuditBucket &address = bucket("a:" + caller.peer, now);
    for (AuditBucket *b : {&user, &address}) {
        b->user = rec.UserName;
        b->host = caller.host;
        b->address = caller.peer;
    }
    if (user.tokens < 1 || address.tokens < 1) {
        ++user.leftOut;
        ++address.leftOut;
        return;
    }
    user.tokens -= 1;
    address.tokens -= 1;
    // A name from the wire is the client's to choose: keep the row short.
    std::string text = detail.substr(0, 255);
    const std::size_t leftOut = std::max(user.leftOut, address.leftOut);
    if (leftOut > 0) {
        text += (text.empty() ? "" : "; ") + std::to_string(leftOut) +
                " earlier commands of this user or address came too fast to be written";
        user.leftOut = 0;
        address.leftOut = 0;
    }
    emit commandHeard(rec.UserName, caller.host, caller.peer, action, text);
}

void CommandGate::tellLeftOut()
{
    // What a flood left out is told once a row may be written again.
    const std::int64_t now = strangers_.now();
    for (auto &[key, b] : buckets_) {
        if (b.leftOut == 0)
            continue;
        AuditBucket &fresh = bucket(key, now);
        if (fresh.tokens < 1)
            continue;
        fresh.tokens -= 1;
        const std::size_t n = fresh.leftOut;
        fresh.leftOut = 0;
        emit commandHeard(fresh.user, fresh.host, fresh.address, "left out",
                          std::to_string(n) + " commands came too fast to be written");
    }
}

void CommandGate::shutdownRequest(const std::string &asker)
{
    const int mode = readShutdownMode_ ? readShutdownMode_() : 0;
    state_.ShutdownFlags = state::shutdownFlagsFor(mode, state_.ShutdownFlags);
    if (!shutdown_.MyExitWindows(state_.ShutdownFlags)) {
        const std::string why = shutdown_.lastError();
        emit problem("A client asked to shut this computer down, but the system refused" +
                     (why.empty() ? std::string(".") : ": " + why));
        return;
    }
    // The operator sees who asked, whether the computer goes down or not.
    emit problem(asker + " asked to shut this computer down.");
}

}  // namespace velora::server::clientservice
