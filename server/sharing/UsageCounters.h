#pragma once
// The bytes each office computer moved through the shared line, counted by
// the kernel while the line is shared. One real implementation (nftables);
// tests hand in a fake whose figures they set.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velora::server::sharing {

// Counters as the kernel holds them: they only grow, until the counting is
// made again (then they start from 0).
struct AddressBytes {
    std::string address;  // dotted IPv4 of the office computer
    std::uint64_t down = 0;
    std::uint64_t up = 0;
    bool operator==(const AddressBytes &) const = default;
};

struct CounterReading {
    std::vector<AddressBytes> computers;
    // This computer's own traffic on the line (not forwarded for others).
    std::uint64_t ownDown = 0;
    std::uint64_t ownUp = 0;
};

class UsageCounters {
public:
    virtual ~UsageCounters() = default;
    // Counts on `interfaceName` from now on, in one step with whatever was
    // counted before; counters already held keep their figures.
    virtual bool count(const std::string &interfaceName, std::string *why = nullptr) = 0;
    // Every counter in one read; nullopt (with why) when they cannot be read.
    virtual std::optional<CounterReading> read(std::string *why = nullptr) = 0;
};

}  // namespace velora::server::sharing
