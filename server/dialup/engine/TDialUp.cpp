#include "server/dialup/engine/TDialUp.h"

#include "server/dialup/entries/RasTexts.h"
#include "common/TextCodec.h"

namespace velora::server::dialup {

TDialUp::TDialUp(LineDriver &driver, QObject *parent) : QObject(parent), driver_(driver)
{
    delivery_.setSingleShot(true);
    delivery_.setInterval(0);
    connect(&delivery_, &QTimer::timeout, this, &TDialUp::deliverOne);
    connect(&driver_, &LineDriver::dialProgress, this, &TDialUp::onDialProgress);
}

TDialUp::~TDialUp() = default;

int TDialUp::GetEntries()
{
    entries_.clear();
    std::vector<std::string> names;
    const int rc = driver_.entries().enumEntries(names);
    if (rc != 0)
        return rc;
    entries_ = names;
    // From the copy: a receiver may enumerate again.
    for (const std::string &name : names)
        emit OnEntryGet(name);
    return 0;
}

int TDialUp::Dial()
{
    HangUp();
    DialParams params;
    int rc = driver_.dialParams(entry_, params);
    if (rc != 0) {
        emit OnError(rc, "GetEntryDialParams failed");
        return rc;
    }
    forgetOwn();
    emit OnDialing();
    ConnHandle handle = 0;
    rc = driver_.dial(params, handle);
    if (rc != 0) {
        emit OnError(rc, driver_.errorText(rc));
        return rc;
    }
    ownHandle_ = handle;
    return 0;
}

int TDialUp::GetActiveConnections()
{
    std::vector<ConnectionInfo> connections;
    const int rc = driver_.enumConnections(connections);
    if (rc != 0)
        return rc;
    // From the copy: a receiver hangs connections up while we walk them.
    for (const ConnectionInfo &c : connections)
        emit OnActiveConnection(c.handle, c.deviceName, c.deviceType, c.entryName,
                                StateText(c.state, c.errorCode), c);
    return 0;
}

void TDialUp::HangUp()
{
    const ConnHandle handle = ownHandle_;
    forgetOwn();
    if (handle != 0)
        driver_.hangUp(handle);
}

int TDialUp::HangUpConnection(ConnHandle handle)
{
    if (handle == ownHandle_)
        forgetOwn();
    return driver_.hangUp(handle);
}

std::string TDialUp::StateText(int state, int errorCode) const
{
    return errorCode != 0 ? driver_.errorText(errorCode) : rasStateText(state);
}

std::string TDialUp::EntryForAddress(const std::string &address, const std::string &whenNone) const
{
    std::vector<ConnectionInfo> connections;
    if (driver_.enumConnections(connections) != 0 || connections.empty())
        return whenNone;
    const std::string wanted = trimBlanks(address);
    for (const ConnectionInfo &c : connections) {
        std::string ip;
        if (driver_.projectionAddress(c.handle, ip) == 0 && trimBlanks(ip) == wanted)
            return c.entryName;
    }
    return "unknown";
}

void TDialUp::onDialProgress(ConnHandle handle, int state, int errorCode)
{
    // Steps of a dial that was hung up or replaced are of no interest.
    if (handle == 0 || handle != ownHandle_)
        return;
    pending_.push_back({handle, state, errorCode});
    if (!delivering_ && !delivery_.isActive())
        delivery_.start();
}

void TDialUp::deliverOne()
{
    // A receiver that spins the event loop must not get the next step inside
    // the current one: it waits until the receiver has returned.
    if (delivering_ || pending_.empty())
        return;
    const Progress p = pending_.front();
    pending_.pop_front();
    delivering_ = true;
    emit OnAsyncEvent(p.state, StateText(p.state, p.errorCode), p.errorCode);
    delivering_ = false;
    if (!pending_.empty() && !delivery_.isActive())
        delivery_.start();
}

void TDialUp::forgetOwn()
{
    ownHandle_ = 0;
    pending_.clear();
    delivery_.stop();
}

}  // namespace velora::server::dialup
