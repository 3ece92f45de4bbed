#pragma once
// The dial-up line as the engine sees it: asynchronous dials that report
// their progress, the connections that are up, and the store of the entries
// it dials. One implementation per kind of line (simulated, pppd, command);
// the engine and the windows only see this.
// Texts are Windows-1252 bytes; every result code is 0 or an error code
// whose text errorText() gives.

#include <QObject>

#include "server/dialup/entries/EntryStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velora::server::dialup {

using ConnHandle = std::uint64_t;  // 0 means none

// One active connection: dialing, up, or failed and not yet hung up.
struct ConnectionInfo {
    ConnHandle handle = 0;
    std::string entryName;
    std::string deviceName;
    std::string deviceType;
    int state = 0;
    int errorCode = 0;
};

class LineDriver : public QObject {
    Q_OBJECT
public:
    ~LineDriver() override;

    // Short name of the kind of line, e.g. "simulated".
    virtual std::string driverName() const = 0;

    // The entries this line dials.
    EntryStore &entries() { return entries_; }
    const EntryStore &entries() const { return entries_; }

    // Starts dialing params.entryName. Progress follows as dialProgress
    // signals on the event loop, never from inside this call.
    int dial(const DialParams &params, ConnHandle &handle);
    // Ends a connection, or a dial in progress, or a failed dial's remains.
    int hangUp(ConnHandle handle);
    // Hangs up what the last dial() of this driver started, if anything.
    int hangUpLastDial();
    ConnHandle lastDial() const { return lastDial_; }

    virtual int enumConnections(std::vector<ConnectionInfo> &connections) const = 0;
    // The IPv4 address the peer handed out (the PPP IP projection).
    virtual int projectionAddress(ConnHandle handle, std::string &ipv4) const = 0;
    // Nominal speed of a connection in bits per second, where the line knows it.
    virtual int connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const;
    // The network interface a connection runs on, where the line names one
    // itself (so that its traffic can be found); empty otherwise.
    virtual std::string connectionInterface(ConnHandle) const { return {}; }
    virtual std::string errorText(int code) const;
    // The network interface the entry's link is on, or will be on; empty
    // while it is not known (a link that names its interface only once up).
    virtual std::string interfaceOf(const std::string & /*entry*/) const { return {}; }
    // What a dial of the entry needs from the store before dial(): by
    // default all it keeps, the password included.
    virtual int dialParams(const std::string &entry, DialParams &params) const
    {
        return entries_.getDialParams(entry, params);
    }

signals:
    // One dial step: a state number of the state table, and a non-zero
    // error code when the dial failed at that state (no more steps follow).
    void dialProgress(velora::server::dialup::ConnHandle handle, int state, int errorCode);

protected:
    // The store is the driver's own member: kept here, not used before the driver is built.
    explicit LineDriver(EntryStore &entries, QObject *parent = nullptr)
        : QObject(parent), entries_(entries)
    {
    }

    // Reports a step of a dial once and in order: nothing for a state already
    // reached, nothing once the dial failed.
    void reportStep(ConnHandle handle, int &reached, int errorCode, int state);

    virtual int startDial(const DialParams &params, ConnHandle &handle) = 0;
    virtual int endConnection(ConnHandle handle) = 0;

private:
    EntryStore &entries_;
    ConnHandle lastDial_ = 0;
};

}  // namespace velora::server::dialup
