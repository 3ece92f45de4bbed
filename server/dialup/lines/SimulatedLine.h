#pragma once
// The built-in line: a phonebook in BaseDir/config/phonebook.ini and a modem
// that exists only in this process. It walks the dial states with timers,
// fails where an entry says so, and counts traffic on a made-up PPP
// interface, so the whole system can be seen working on any machine.
//
// One section per entry; keys (all optional):
//   phone, callback, user, password, domain   stored dial parameters
//   device (default "Simulated modem"), devicetype (default "modem")
//   speed      connect speed in bits per second (default 56000)
//   address    IPv4 address handed out (default 10.64.<unit>.2)
//   failcode   error code at which the dial stops (0: it connects)
//   failstate  state number at which it stops (default 2)
//   delay      milliseconds between two states (default: the line's)
//   dropafter  milliseconds after the first dialled connection of the entry
//              came up, the provider ends it (once per run; 0: never)

#include "server/dialup/lines/LineDriver.h"
#include "server/dialup/entries/PhonebookEntries.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velora::server::dialup {

// A point-to-point interface of a simulated connection, shaped like a row of
// the operating system's interface table.
struct SimulatedInterface {
    std::uint32_t index = 0;
    std::string name;         // "ppp0", "ppp1", ...
    std::string description;
    std::uint32_t type = 23;  // point-to-point
    std::uint32_t speed = 0;  // bits per second
    std::string address;
    std::uint32_t inOctets = 0;   // wrap at 2^32 like the real counters
    std::uint32_t outOctets = 0;
    std::string entryName;
    ConnHandle handle = 0;
};

class SimulatedLine final : public LineDriver {
    Q_OBJECT
public:
    static constexpr int kDefaultStepDelayMs = 300;
    static constexpr std::uint32_t kDefaultSpeed = 56000;

    explicit SimulatedLine(const std::string &baseDir, QObject *parent = nullptr);
    ~SimulatedLine() override;

    static std::string phonebookPathFor(const std::string &baseDir);
    const std::string &phonebookPath() const { return book_.path(); }

    // Delay between states for entries without a delay key.
    void setDefaultStepDelay(int ms);
    int defaultStepDelay() const { return defaultDelayMs_; }
    // Milliseconds of a monotonic clock, for the traffic counters.
    void setClock(std::function<std::int64_t()> clock);

    std::string driverName() const override { return "simulated"; }
    int enumConnections(std::vector<ConnectionInfo> &connections) const override;
    int projectionAddress(ConnHandle handle, std::string &ipv4) const override;
    int connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const override;

    // A connection another dialer made: up at once, without dial steps.
    // Returns its handle, or 0 when the name is not valid or already active.
    ConnHandle connectFromOutside(const std::string &entry);
    // The provider or another dialer ended the connection; no step is
    // reported, as with a real line that drops.
    bool dropFromOutside(ConnHandle handle);

    // The PPP interfaces of the connections that are up.
    std::vector<SimulatedInterface> interfaces() const;

protected:
    int startDial(const DialParams &params, ConnHandle &handle) override;
    int endConnection(ConnHandle handle) override;

private:
    struct Connection {
        std::string entry;
        std::string deviceName;
        std::string deviceType;
        std::string address;
        std::uint32_t speed = kDefaultSpeed;
        int state = 0;
        int errorCode = 0;
        std::size_t nextStep = 0;  // into the walk; past it once up or failed
        int failState = -1;
        int failCode = 0;
        int delayMs = 0;
        int dropAfterMs = 0;
        int unit = 0;
        std::uint32_t ifIndex = 0;
        std::int64_t upSinceMs = -1;
    };

    // The entry's section name as the file spells it, or an error code.
    Connection prepare(const std::string &section);
    void markUp(Connection &c);
    void step(ConnHandle handle);
    bool entryActive(const std::string &entry) const;
    int freeUnit() const;

    PhonebookEntries book_;
    int defaultDelayMs_ = kDefaultStepDelayMs;
    std::function<std::int64_t()> clock_;
    std::vector<std::string> droppedOnce_;  // entries whose dropafter was used
    std::map<ConnHandle, Connection> connections_;  // handles grow, so map order is dial order
    ConnHandle nextHandle_ = 1;
    std::uint32_t nextIfIndex_ = 100;
};

// Writes the phonebook of the demo base dir: two entries that connect and one
// whose line is busy. Replaces an existing phonebook.
bool writeDemoPhonebook(const std::string &baseDir, std::string *error = nullptr);

}  // namespace velora::server::dialup
