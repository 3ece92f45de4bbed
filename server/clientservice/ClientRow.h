#pragma once
// One row of the client list as the window shows it. Texts are Windows-1252.

#include <cstdint>
#include <string>

namespace velora::server::clientservice {

struct ClientRow {
    std::string name;
    std::string address;
    std::string lock;
    // Seconds since the epoch since the record holds the lock; 0 while free.
    std::int64_t lockedSince = 0;
};

}  // namespace velora::server::clientservice
