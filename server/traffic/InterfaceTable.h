#pragma once
// The machine's network interfaces as the sampler reads them: one pass over
// every interface, counters and addresses together.

#include <cstdint>
#include <string>
#include <vector>

namespace velora::server::traffic {

inline constexpr std::uint32_t kArphrdPpp = 512;

struct InterfaceRow {
    std::uint32_t index = 0;
    std::string name;
    std::uint32_t type = 0;  // ARPHRD_*
    std::uint64_t inOctets = 0;
    std::uint64_t outOctets = 0;
    // The source's counters are 32 bits wide and wrap (a lower value near the
    // bottom after one near the top is a wrap, not a restart).
    bool counters32 = false;
    std::uint32_t speed = 0;  // bits per second, 0 when unknown
    std::string address;      // first IPv4 address, dotted; empty when none
};

class InterfaceTable {
public:
    virtual ~InterfaceTable() = default;
    // Every interface in the system's order; false when the table cannot be
    // read (rows is then empty).
    virtual bool read(std::vector<InterfaceRow> &rows) = 0;
};

}  // namespace velora::server::traffic
