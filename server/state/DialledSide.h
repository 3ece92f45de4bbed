#pragma once
// Which of this computer's addresses belong to the dialled line. The client
// port and the relay ask it for every connection they accept, from the
// main thread and the relay's thread alike, so it locks.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct sockaddr;

namespace velora::server::state {

class DialledSide {
public:
    // The interfaces of the line: the connections' own and the one a dial
    // is about to raise. Links named "ppp…" always count.
    void setLineInterfaces(std::vector<std::string> names);
    void addLineInterface(const std::string &name);
    // Re-reads the addresses of the system's interfaces.
    void refresh();

    // The local address an accepted connection came in on. On an address not
    // seen before, the interfaces are read again first.
    bool isDialled(const sockaddr *local);
    // The same for a socket's own end; false when it cannot be read.
    bool isDialledSocket(int fd);
    // The interface the last refused connection came in on, for the report.
    std::string lastInterface() const;

private:
    struct Net {
        std::string name;
        bool v6 = false;
        std::uint8_t address[16] = {};
        std::uint8_t mask[16] = {};
    };
    bool lineInterface(const std::string &name) const;
    // The interface whose network holds the address; -1 when none.
    int owner(bool v6, const std::uint8_t *address) const;
    void readInterfaces();

    mutable std::mutex mutex_;
    std::vector<std::string> line_;
    std::vector<Net> nets_;
    std::string lastInterface_;
};

}  // namespace velora::server::state
