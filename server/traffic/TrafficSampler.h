#pragma once
// The interface traffic sampler: one record per interface in first-seen
// order, the bytes each moved between two samples, and the figures of the
// connected entry's interface for the meter, the clients and the speed
// read-out. Runs inside the status tick.

#include "common/NumberFormat.h"
#include "server/traffic/InterfaceTable.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velora::server::traffic {

struct Tmibdata {
    std::uint32_t index = 0;
    std::uint64_t download = 0;  // bytes since the previous sample
    std::uint64_t upload = 0;
    std::uint64_t lastIn = 0;
    std::uint64_t lastOut = 0;
    std::uint32_t speed = 0;  // bits per second
    std::string description;
    std::string address;  // "!not_found!" when none
    std::string displayName;
};

// An interface a line names as the one its connection runs on.
struct NamedInterface {
    std::string interfaceName;
    std::string entryName;
};

// What the sampler asks of the dial-up; server/frame binds it to the line.
struct ConnectionView {
    // The entry whose connection holds this PPP address, "unknown" when none.
    std::function<std::string(const std::string &address)> entryForAddress;
    std::function<std::vector<NamedInterface>()> namedInterfaces;
    // The line's connect speed of the entry's connection; 0 when it has none.
    std::function<std::uint32_t(const std::string &entry)> connectionSpeed;
};

class TrafficSampler {
public:
    TrafficSampler(InterfaceTable &table, ConnectionView connections);

    // Steps 1 to 3: read the table, update and add records, drop the gone.
    void sample();
    // Step 4: hands the figures of the entry's interface on.
    void entryUpdate(const std::string &entry);
    // The entry's nominal speed as a bit-rate text, empty when no interface
    // matches; the numeric speed is left as it was then.
    std::string speedOfEntry(const std::string &entry, std::uint32_t &speed, const NumberSeparators &separators) const;

    // Download â upload â of the latest entry update; never cleared.
    const std::string &BandwidthText() const { return bandwidthText_; }
    const std::vector<Tmibdata> &Tmibarray() const { return records_; }

    // Called for every matching record of an entry update (the meter).
    std::function<void(const std::string &entry, std::uint64_t download, std::uint64_t upload)> onFigures;

    // Bytes moved between two counter readings. A 64-bit counter that went
    // down belongs to a re-created interface: 0. A 32-bit one that went from
    // near the top to near the bottom wrapped.
    static std::uint64_t moved(std::uint64_t now, std::uint64_t last, bool counters32);

private:
    InterfaceTable &table_;
    ConnectionView connections_;
    std::vector<Tmibdata> records_;
    std::vector<InterfaceRow> rows_;
    std::string bandwidthText_;
};

}  // namespace velora::server::traffic
