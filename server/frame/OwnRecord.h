#pragma once
// The server's own client record, as the client list and the audit rows name
// the operator: "Admin@" + host name, and the computer's local address.

#include <string>

namespace velora::server::frame {

// Windows-1252, like every client's name: it goes on the wire.
std::string ownClientName();
// The first IPv4 address that is not the loopback, else 127.0.0.1.
std::string ownAddress();

}  // namespace velora::server::frame
