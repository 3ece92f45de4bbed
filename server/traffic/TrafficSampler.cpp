#include "server/traffic/TrafficSampler.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "common/NumberFormat.h"
#include "common/WireCodec.h"

namespace velora::server::traffic {

namespace {

constexpr std::uint64_t kTwo32 = 1ULL << 32;

// The wire carries 32-bit decimals.
std::uint64_t onWire(std::uint64_t n) { return std::min<std::uint64_t>(n, std::numeric_limits<std::uint32_t>::max()); }

}  // namespace

TrafficSampler::TrafficSampler(InterfaceTable &table, ConnectionView connections)
    : table_(table), connections_(std::move(connections))
{
}

std::uint64_t TrafficSampler::moved(std::uint64_t now, std::uint64_t last, bool counters32)
{
    if (now >= last)
        return now - last;
    if (counters32 && last >= kTwo32 / 4 * 3 && now < kTwo32 / 4)
        return now + kTwo32 - last;
    return 0;
}

void TrafficSampler::sample()
{
    if (!table_.read(rows_))
        rows_.clear();
    std::vector<NamedInterface> named;
    if (connections_.namedInterfaces && !rows_.empty())
        named = connections_.namedInterfaces();

    std::unordered_map<std::uint32_t, std::size_t> at;
    at.reserve(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i)
        at.emplace(records_[i].index, i);
    std::unordered_set<std::uint32_t> seen;
    seen.reserve(rows_.size());

    for (const InterfaceRow &row : rows_) {
        seen.insert(row.index);
        std::string address = row.address.empty() ? std::string("!not_found!") : row.address;
        std::string display;
        std::uint32_t speed = row.speed;
        const auto n = std::find_if(named.begin(), named.end(),
                                    [&](const NamedInterface &x) { return x.interfaceName == row.name; });
        if (n != named.end())
            display = n->entryName;
        else if (row.type == kArphrdPpp)
            display = connections_.entryForAddress ? connections_.entryForAddress(address) : "unknown";
        else
            display = row.name;
        if ((n != named.end() || row.type == kArphrdPpp) && display != "unknown" && connections_.connectionSpeed)
            if (const std::uint32_t s = connections_.connectionSpeed(display))
                speed = s;

        if (const auto it = at.find(row.index); it != at.end()) {
            Tmibdata &r = records_[it->second];
            r.download = moved(row.inOctets, r.lastIn, row.counters32);
            r.upload = moved(row.outOctets, r.lastOut, row.counters32);
            r.lastIn = row.inOctets;
            r.lastOut = row.outOctets;
            r.speed = speed;
            r.description = row.name;
            r.address = std::move(address);
            r.displayName = std::move(display);
        } else {
            at.emplace(row.index, records_.size());
            records_.push_back({row.index, 0, 0, row.inOctets, row.outOctets, speed, row.name, std::move(address),
                                std::move(display)});
        }
    }
    records_.erase(std::remove_if(records_.begin(), records_.end(),
                                  [&](const Tmibdata &r) { return !seen.count(r.index); }),
                   records_.end());
}

void TrafficSampler::entryUpdate(const std::string &entry)
{
    for (const Tmibdata &r : records_) {
        if (r.displayName != entry)
            continue;
        if (onFigures)
            onFigures(entry, r.download, r.upload);
        bandwidthText_ = std::to_string(onWire(r.download)) + wire::ItemSep +
                         std::to_string(onWire(r.upload)) + wire::ItemSep;
    }
}

std::string TrafficSampler::speedOfEntry(const std::string &entry, std::uint32_t &speed,
                                         const NumberSeparators &separators) const
{
    std::string text;
    for (const Tmibdata &r : records_)
        if (r.displayName == entry) {
            text = formatBitRate(r.speed, separators);
            speed = r.speed;
        }
    return text;
}

}  // namespace velora::server::traffic
