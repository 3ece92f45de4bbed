#pragma once
// Where [server] listen= says the client port listens: empty or "*" is the
// given fallback, else an address, else the first IPv4 address of the
// interface of that name (a LAN card whose address DHCP may change).

#include <QHostAddress>
#include <optional>
#include <string>

namespace velora::server::frame {

// Nothing, and why (naming configPath), while the setting gives no address:
// never all addresses by accident, those include the dialled line's.
std::optional<QHostAddress> listenAddressFor(const std::string &setting, const std::string &fallback,
                                             const std::string &configPath, std::string *why);

}  // namespace velora::server::frame
