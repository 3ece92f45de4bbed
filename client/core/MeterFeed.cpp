#include "client/core/MeterFeed.h"

#include <charconv>

#include "common/WireCodec.h"

namespace velora::client::core {

std::optional<std::uint32_t> trafficValue(const std::string &item)
{
    std::uint32_t v = 0;
    const char *end = item.data() + item.size();
    const auto [ptr, ec] = std::from_chars(item.data(), end, v);
    if (item.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return v;
}

std::string meterSubscriptionLine(bool active)
{
    return wire::buildCommandLine("bandwidth", {active ? "active" : "unactive"});
}

}  // namespace velora::client::core
