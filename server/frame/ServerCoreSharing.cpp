// The core's part in sharing and the relay: the switch before each dial, its
// completion once the link's interface is known, the relay at the first
// online second, and the clean-up at the end.

#include "server/frame/ServerCore.h"

#include <QMetaObject>
#include <QPointer>

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

bool ServerCore::sharingUsable()
{
    std::string why;
    if (platform_.sharing->usable(&why))
        return true;
    emit problem(state::shownMessage("connection sharing cannot be used here: " + why));
    return false;
}

bool ServerCore::executeics(const std::string &entry, std::string *why)
{
    const std::string name = trimBlanks(entry);
    const std::string iface = platform_.line->interfaceOf(name);
    std::string reason;
    if (!platform_.sharing->share(iface, &reason)) {
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

void ServerCore::completeSharing()
{
    if (shareWhenUp_.empty())
        return;
    const std::string iface = platform_.line->interfaceOf(shareWhenUp_);
    if (iface.empty())
        return;
    std::string why;
    if (!platform_.sharing->share(iface, &why))
        emit problem(state::shownMessage("connection sharing was not switched to " + iface + ": " + why));
    shareWhenUp_.clear();
}

void ServerCore::endSharing()
{
    relay_.reset();
    std::string why;
    // Only what this run made: a server that never shared leaves nftables alone.
    if (sharedThisRun_ && !platform_.sharing->unshareAll(&why))
        std::fprintf(stderr, "velora: the sharing table could not be removed: %s\n", why.c_str());
    sharedThisRun_ = false;
}

void ServerCore::startRelayIfDue()
{
    if (state_.ActiveStatus == "Connected" && !state_.SmtpRelayStarted && state_.dialSettings.smtpautorelay == "1")
        executesmtp(state_.ActiveEntry);
    state_.SmtpRelayStarted = true;
}

bool ServerCore::executesmtp(const std::string &entry)
{
    const auto row = log_.smtp(entry);
    if (!row || trimBlanks(row->server).empty() || trimBlanks(row->port).empty())
        return false;
    // The previous relay ends (its port and connections with it) before the new one binds.
    relay_.reset();
    const QPointer<ServerCore> self(this);
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
    std::string why;
    if (!relay->start(options_.listenAddress, listenPort, server, targetPort, &why)) {
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
