#include "server/clientservice/StatusPush.h"

#include <QDateTime>

#include <algorithm>
#include <map>

#include "common/WireCodec.h"
#include "server/clientservice/Session.h"

namespace velora::server::clientservice {

StatusPush::StatusPush(state::ServerState &state, QObject *parent) : QObject(parent), state_(state) {}

void StatusPush::addOwnRecord(const std::string &name, const std::string &address)
{
    if (own_)
        return;
    own_ = std::make_unique<TSimpleClient>();
    own_->ClientName = name;
    own_->Address = address;
    own_->LockState = state::ClientLock::Free;
    list_.insert(list_.begin(), own_.get());
}

void StatusPush::removeOwnRecord()
{
    if (!own_)
        return;
    list_.erase(std::remove(list_.begin(), list_.end(), own_.get()), list_.end());
    own_.reset();
}

void StatusPush::join(TSimpleClient &record)
{
    list_.push_back(&record);
    // Whatever the list looks like after its login, a new session's first
    // push line carries the status record.
    record.StatusOwed = true;
    record.PushPending = true;
}

void StatusPush::leave(TSimpleClient &record)
{
    list_.erase(std::remove(list_.begin(), list_.end(), &record), list_.end());
}

// ------------------------------------------------------------------ chat

namespace {
// A record that lacks its closing separator would run into the next one in
// every mailbox it joins; close it.
std::string wholeRecord(const std::string &record)
{
    if (!record.empty() && record.back() == wire::RecordSep)
        return record;
    return record + wire::RecordSep;
}
}  // namespace

bool StatusPush::deliverFromClient(const std::string &recipient, const std::string &record)
{
    const std::string m = wholeRecord(record);
    // No push line could carry it: every receiver's reader would refuse it.
    if (m.size() > MaxRecordBytes)
        return false;
    bool full = false;
    if (recipient == "All") {
        for (TSimpleClient *r : list_) {
            r->Mailbox += m;
            if (r == own_.get())
                serverInbox_ = r->Mailbox;
            full = full || r->Mailbox.size() > MailboxHighWater;
        }
        if (!list_.empty())
            state_.StatusChanged = 1;
        return full;
    }
    for (TSimpleClient *r : list_) {
        if (r->Address != recipient)
            continue;
        r->Mailbox += m;
        r->PushPending = true;
        if (r == own_.get())
            serverInbox_ = r->Mailbox;
        full = full || r->Mailbox.size() > MailboxHighWater;
    }
    return full;
}

void StatusPush::pesanserver(const std::string &recipient, const std::string &record)
{
    const std::string m = wholeRecord(record);
    if (m.size() > MaxRecordBytes)
        return;
    bool matched = false;
    for (TSimpleClient *r : list_) {
        if (recipient == "All" || r->Address == recipient) {
            r->Mailbox += m;
            matched = true;
        }
    }
    if (matched)
        state_.StatusChanged = 1;
}

// ----------------------------------------------------------------- locks

void StatusPush::setLock(TSimpleClient &record, bool locking)
{
    if (locking && record.LockState != state::ClientLock::Locking)
        record.LockedSince = QDateTime::currentSecsSinceEpoch();
    else if (!locking)
        record.LockedSince = 0;
    record.LockState = locking ? state::ClientLock::Locking : state::ClientLock::Free;
}

void StatusPush::operatorLock()
{
    if (!own_)
        return;
    setLock(*own_, true);
    operatorLock_ = state::ClientLock::Locking;
    emit operatorLockChanged(true);
}

void StatusPush::operatorUnlock()
{
    if (!own_)
        return;
    setLock(*own_, false);
    operatorLock_ = state::ClientLock::Free;
    emit operatorLockChanged(false);
}

void StatusPush::unlockAll()
{
    for (TSimpleClient *r : list_)
        setLock(*r, false);
}

// ------------------------------------------------------------ tick steps

void StatusPush::updateLockStatus()
{
    state_.LockStatus = state::LineLock::Free;
    for (const TSimpleClient *r : list_) {
        if (r->LockState == state::ClientLock::Locking) {
            state_.LockStatus = state::LineLock::Locked;
            break;
        }
    }
}

void StatusPush::buildClientLists()
{
    names_.clear();
    locks_.clear();
    addresses_.clear();
    for (const TSimpleClient *r : list_) {
        names_ += r->ClientName;
        names_ += wire::ListSep;
        locks_ += state::toText(r->LockState);
        locks_ += wire::ListSep;
        addresses_ += r->Address;
        addresses_ += wire::ListSep;
    }
}

void StatusPush::pollClients()
{
    if (state_.PollingMinutes != 0 && pollCount_ >= state_.PollingMinutes * 120) {
        std::vector<Session *> silent;
        for (TSimpleClient *r : list_)
            if (r->session && r->Alive == "0")
                silent.push_back(r->session);
        for (Session *s : silent)
            s->abort();
        for (TSimpleClient *r : list_)
            if (r->session)
                r->Alive.assign(1, '0');  // (assign: avoids a false -Wrestrict of GCC 12)
        state_.StatusChanged = 1;
        pollCount_ = 0;
    } else {
        ++pollCount_;
    }
}

void StatusPush::markTrafficSubscribers()
{
    if (state_.ActiveStatus != state::LinkState::Connected)
        return;
    for (TSimpleClient *r : list_)
        if (r->session && r->MeterWanted)
            r->PushPending = true;
}

const std::string &StatusPush::buildStatusRecordText()
{
    std::string &s = statusRecordText_;
    s.clear();
    static const std::string fixedTime = "0:0:0";
    const std::string lineLock = state::toText(state_.LockStatus);
    for (const std::string *item :
         std::initializer_list<const std::string *>{&state_.StatusText, &fixedTime, &state_.ActiveEntry,
                                                    &lineLock, &state_.ErrorNotice, &state_.SpeedValue,
                                                    &state_.ActiveDevice, &state_.EntryListText, &names_, &locks_,
                                                    &addresses_}) {
        s += *item;
        s += wire::ItemSep;
    }
    return s;
}

void StatusPush::handOperatorInbox()
{
    if (!serverInbox_.empty())
        emit serverInboxReady(serverInbox_);
    if (own_)
        own_->Mailbox.clear();
    serverInbox_.clear();
}

void StatusPush::updateOperatorLock()
{
    if (!list_.empty())
        operatorLock_ = list_.front()->LockState;
}

void StatusPush::UpdateClientList()
{
    std::vector<ClientRow> rows;
    rows.reserve(list_.size());
    for (const TSimpleClient *r : list_)
        rows.push_back({r->ClientName, r->Address, state::toText(r->LockState), r->LockedSince});
    emit clientListUpdated(rows);
}

void StatusPush::Broadcastmessage()
{
    for (TSimpleClient *r : list_)
        if (r->session)
            r->PushPending = true;
}

void StatusPush::writePushLines(Session &session, const std::string &status)
{
    TSimpleClient &rec = session.record;
    const std::string &traffic = trafficText_;
    const std::size_t limit = LineFramer::MaxLineLength;
    const std::size_t fixed = status.size() + traffic.size() + 4;
    if (fixed + rec.Mailbox.size() <= limit) {
        session.writeLine(wire::buildPushLine(status, rec.Mailbox, traffic));
        rec.Mailbox.clear();
        return;
    }
    // Too much mail for one line: spread whole records over several lines,
    // the status record in the first only.
    std::string_view rest = rec.Mailbox;
    std::string_view statusPart = status;
    while (true) {
        const std::size_t budget = limit - std::min(limit, statusPart.size() + traffic.size() + 4);
        std::size_t take = 0;
        while (take < rest.size()) {
            std::size_t end = rest.find(wire::RecordSep, take);
            end = end == std::string_view::npos ? rest.size() : end + 1;
            if (end > budget) {
                // A record too big for any line still goes out whole, alone.
                if (take == 0 && statusPart.empty())
                    take = end;
                break;
            }
            take = end;
        }
        session.writeLine(wire::buildPushLine(statusPart, rest.substr(0, take), traffic));
        rest.remove_prefix(take);
        statusPart = {};
        if (rest.empty() || session.isClosing())
            break;
    }
    rec.Mailbox.clear();
}

void StatusPush::sendclientdata()
{
    const std::string &shared = statusRecordText_;
    // Clients with an empty mailbox and the same lock word get the same
    // bytes: build them once and let the sockets share them. Every push line
    // carries the latest traffic figures; an open meter only makes the
    // client pushed on every tick.
    std::map<std::string, QByteArray> sameLine;
    // Copy: a write may close a session and shrink the list.
    const auto records = list_;
    for (TSimpleClient *r : records) {
        if (!r->session || !r->PushPending)
            continue;
        Session &s = *r->session;
        r->PushPending = false;
        const bool withStatus = statusFresh_ > 0 || r->StatusOwed;
        r->StatusOwed = false;
        if (s.isClosing())
            continue;
        if (r->Mailbox.empty()) {
            const std::string lock = state::toText(r->LockState);
            QByteArray &line = sameLine[(withStatus ? "s" : "-") + lock];
            if (line.isEmpty()) {
                std::string text = wire::buildPushLine(
                    withStatus ? wire::buildStatusRecord(shared, lock, std::to_string(state_.SecondsOnline))
                               : std::string(),
                    {}, trafficText_);
                text += "\r\n";
                line = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
            }
            s.writeFramed(line);
            continue;
        }
        std::string status;
        if (withStatus)
            status = wire::buildStatusRecord(shared, state::toText(r->LockState), std::to_string(state_.SecondsOnline));
        writePushLines(s, status);
    }
}

void StatusPush::pushIfDue()
{
    const bool changed = statusRecordText_ != state_.LastStatusRecord;
    if (changed)
        statusFresh_ = 2;
    if (changed || state_.StatusChanged > 0) {
        UpdateClientList();
        Broadcastmessage();
    }
    for (TSimpleClient *r : list_)
        if (r->StatusOwed && r->session)
            r->PushPending = true;
    sendclientdata();
    state_.LastStatusRecord = statusRecordText_;
    if (changed)
        emit statusRecordChanged();
}

void StatusPush::countdowns()
{
    if (state_.StatusChanged > 0)
        --state_.StatusChanged;
    if (statusFresh_ > 0)
        --statusFresh_;
}

}  // namespace velora::server::clientservice
