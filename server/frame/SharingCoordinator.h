#pragma once
// Sharing and the doors the dialled line opens: connection sharing follows
// the entry about to be dialled (the dial-up engine's SharingSwitch hook) and
// is completed once the link names its interface; the dialled side is kept
// known (DialledSide) and, where the line is shared, guarded by an input
// rule; the SMTP relay starts at the first online second. Everything this run
// made is removed at the end.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/dialup/engine/DialupOperations.h"
#include "server/dialup/lines/LineDriver.h"
#include "server/log/LogDatabase.h"
#include "server/sharing/SharingSwitch.h"
#include "server/sharing/SmtpRelay.h"
#include "server/state/DialledSide.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

class SharingCoordinator : public QObject, public dialup::SharingSwitch {
    Q_OBJECT
public:
    struct Parts {
        dialup::LineDriver &line;
        sharing::SharingSwitch &sharing;
        log::LogDatabase &log;
        // The client ports (plain and TLS; 0 when closed), guarded with the relay's.
        std::function<std::vector<int>()> clientPorts;
        // [server] wanaccess as the file says now (the relay's start).
        std::function<bool()> wanAccess;
        // Where the relay listens.
        std::string listenAddress;
    };

    SharingCoordinator(state::ServerState &state, Parts parts, QObject *parent = nullptr);
    ~SharingCoordinator() override;

    // Which local addresses face the line: the client port and the relay
    // close what comes in there.
    state::DialledSide &dialledSide() { return dialledSide_; }

    // Connection sharing follows the entry about to be dialled; false (and
    // the dial is aborted) when the switch refused.
    bool executeics(const std::string &entry, std::string *why = nullptr);
    // The relay of the entry's smtp row takes over from the previous one;
    // false when the entry has no complete row or the port cannot be bound.
    bool executesmtp(const std::string &entry);
    // Whether sharing can be driven here; says why not.
    bool sharingUsable();
    // Null until a relay was started.
    const sharing::SmtpRelay *smtpRelay() const { return relay_.get(); }
    void setRelayLimits(const sharing::RelayLimits &limits) { relayLimits_ = limits; }

    // [server] wanaccess as the dial in progress read it.
    void setWanAccessAtDial(bool on) { wanAccessAtDial_ = on; }
    // A dial is about to raise the entry's link: its interface faces the
    // provider, so the ports are closed to it.
    void guardDialledSide(const std::string &entry);
    // The entry list was read: each entry's own link faces its provider.
    void readEntryInterfaces(const std::vector<std::string> &entries);
    // Status tick: the interfaces of the line's connections, and the rule of
    // a link whose interface showed only once up.
    void followLineInterfaces();
    void completeSharing();
    // Online-time tick: the relay at the first online second.
    void startRelayIfDue();
    // The relay ends; the table goes only when this run shared something.
    void endSharing();

    // dialup::SharingSwitch
    bool switchTo(const std::string &entry, std::string *error) override { return executeics(entry, error); }

signals:
    void problem(const QString &text);

private:
    state::ServerState &state_;
    Parts parts_;
    state::DialledSide dialledSide_;
    std::unique_ptr<sharing::SmtpRelay> relay_;
    sharing::RelayLimits relayLimits_;
    std::string shareWhenUp_;  // the entry whose interface was not known at its dial
    bool sharedThisRun_ = false;
    std::vector<std::string> entryInterfaces_;
    std::string dialIface_;  // the interface of the last dial, when the line names one
    bool guardFailureTold_ = false;
    bool wanAccessAtDial_ = false;
};

}  // namespace velora::server::frame
