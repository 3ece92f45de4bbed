#pragma once
// What the client's meter reads from the traffic part and says to the
// server about it.

#include <cstdint>
#include <optional>
#include <string>

namespace velora::client::core {

// A traffic item as an unsigned 32-bit whole number; nothing when it is not one.
std::optional<std::uint32_t> trafficValue(const std::string &item);

// "bandwidthàactiveà" / "bandwidthàunactiveà", unterminated.
std::string meterSubscriptionLine(bool active);

}  // namespace velora::client::core
