#include "server/frame/SharingCoordinator.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/TextCodec.h"
#include "server/state/Text.h"

namespace velora::server::frame {

namespace {

// Decimal text of a port, nothing else; -1 otherwise.
int portNumber(const std::string &text)
{
    const std::string t = trimBlanks(text);
    int value = -1;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size() && !t.empty() ? value : -1;
}

}  // namespace

SharingCoordinator::SharingCoordinator(state::ServerState &state, Parts parts, QObject *parent)
    : QObject(parent), state_(state), parts_(std::move(parts))
{
}

SharingCoordinator::~SharingCoordinator() { endSharing(); }

bool SharingCoordinator::sharingUsable()
{
    std::string why;
    if (parts_.sharing.usable(&why))
        return true;
    emit problem(state::shownMessage("connection sharing cannot be used here: " + why));
    return false;
}

bool SharingCoordinator::executeics(const std::string &entry, std::string *why)
{
    const std::string name = trimBlanks(entry);
    const std::string iface = parts_.line.interfaceOf(name);
    std::string reason;
    if (!parts_.sharing.share(iface, &reason)) {
        emit problem(state::shownMessage("connection sharing was not switched to " + name + ": " + reason));
        if (why)
            *why = reason;
        return false;
    }
    sharedThisRun_ = true;
    // Until the link is up only the previous entry is un-shared.
    shareWhenUp_ = iface.empty() ? name : std::string();
    return true;
}

void SharingCoordinator::completeSharing()
{
    if (shareWhenUp_.empty())
        return;
    const std::string iface = parts_.line.interfaceOf(shareWhenUp_);
    if (iface.empty())
        return;
    std::string why;
    if (!parts_.sharing.share(iface, &why))
        emit problem(state::shownMessage("connection sharing was not switched to " + iface + ": " + why));
    shareWhenUp_.clear();
}

void SharingCoordinator::guardDialledSide(const std::string &entry)
{
    const std::string iface = parts_.line.interfaceOf(trimBlanks(entry));
    // Known from now on, before the link raises its address.
    dialIface_ = iface;
    dialledSide_.addLineInterface(iface);
    // nftables only where sharing is asked for: a server without it never
    // touches the firewall, and its own check stands alone.
    if (wanAccessAtDial_ || !state_.dialSettings.ics)
        return;
    std::vector<std::string> names = entryInterfaces_;
    if (!iface.empty() && std::find(names.begin(), names.end(), iface) == names.end())
        names.push_back(iface);
    if (parts_.line.driverName() == "pppd")
        names.push_back("ppp*");
    // The simulated line faces nobody: nftables is left alone.
    if (names.empty())
        return;
    std::vector<int> ports;
    for (const int port : parts_.clientPorts())
        if (port > 0)
            ports.push_back(port);
    if (state_.dialSettings.smtpautorelay && portNumber(state_.dialSettings.smtpport) > 0)
        ports.push_back(portNumber(state_.dialSettings.smtpport));
    std::string why;
    if (parts_.sharing.guardInput(names, ports, &why)) {
        sharedThisRun_ = true;
        return;
    }
    if (!guardFailureTold_)
        emit problem(state::shownMessage("connections over the dialled line are refused by the server alone "
                                         "(no firewall rule: " + why + ")"));
    guardFailureTold_ = true;
}

void SharingCoordinator::readEntryInterfaces(const std::vector<std::string> &entries)
{
    // An entry's own link faces its provider, dialled or not.
    entryInterfaces_.clear();
    for (const std::string &entry : entries)
        if (std::string name = parts_.line.interfaceOf(entry); !name.empty())
            entryInterfaces_.push_back(std::move(name));
}

void SharingCoordinator::followLineInterfaces()
{
    std::vector<std::string> names;
    std::vector<dialup::ConnectionInfo> connections;
    if (parts_.line.enumConnections(connections) == 0)
        for (const dialup::ConnectionInfo &c : connections)
            if (std::string name = parts_.line.connectionInterface(c.handle); !name.empty())
                names.push_back(std::move(name));
    if (!dialIface_.empty())
        names.push_back(dialIface_);
    names.insert(names.end(), entryInterfaces_.begin(), entryInterfaces_.end());
    dialledSide_.setLineInterfaces(std::move(names));
    dialledSide_.refresh();
}

void SharingCoordinator::endSharing()
{
    relay_.reset();
    std::string why;
    // Only what this run made: a server that never shared leaves nftables alone.
    if (sharedThisRun_ && !parts_.sharing.unshareAll(&why))
        std::fprintf(stderr, "velora: the sharing table could not be removed: %s\n", why.c_str());
    sharedThisRun_ = false;
}

void SharingCoordinator::startRelayIfDue()
{
    if (state_.ActiveStatus == state::LinkState::Connected && !state_.SmtpRelayStarted &&
        state_.dialSettings.smtpautorelay)
        executesmtp(state_.ActiveEntry);
    state_.SmtpRelayStarted = true;
}

bool SharingCoordinator::executesmtp(const std::string &entry)
{
    const auto row = parts_.log.smtp(entry);
    if (!row || trimBlanks(row->server).empty() || trimBlanks(row->port).empty())
        return false;
    // The previous relay ends (its port and connections with it) before the new one binds.
    relay_.reset();
    const QPointer<SharingCoordinator> self(this);
    auto relay = std::make_unique<sharing::SmtpRelay>(relayLimits_, [self](const std::string &note) {
        // From the relay's thread: the note crosses to ours.
        QMetaObject::invokeMethod(
            self.data(), [self, note] {
                if (self)
                    emit self->problem(state::shownMessage(note));
            },
            Qt::QueuedConnection);
    });
    const int listenPort = portNumber(state_.dialSettings.smtpport);
    const int targetPort = portNumber(row->port);
    const std::string server = trimBlanks(row->server);
    // Mail from the Internet through our provider's server would make us an
    // open relay: what comes in over the line is closed unread.
    relay->setDialledSide(parts_.wanAccess() ? nullptr : &dialledSide_);
    std::string why;
    if (!relay->start(parts_.listenAddress, listenPort, server, targetPort, &why)) {
        // Said aloud: a relay that silently does not run leaves mail unsent.
        emit problem(state::shownMessage("SMTP relay not started: " + why));
        return false;
    }
    emit problem(state::shownText("SMTP relay: port " + std::to_string(relay->port()) + " passes mail to " + server +
                                  ":" + std::to_string(targetPort)));
    relay_ = std::move(relay);
    return true;
}

}  // namespace velora::server::frame
