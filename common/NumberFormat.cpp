#include "common/NumberFormat.h"

#include <cstdint>

namespace velora {

std::string formatFixed2(std::uint64_t hundredths, const NumberSeparators &seps)
{
    const std::string whole = std::to_string(hundredths / 100);
    std::string out;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            out += seps.thousands;
        out += whole[i];
    }
    const unsigned frac = static_cast<unsigned>(hundredths % 100);
    out += seps.decimal;
    out += static_cast<char>('0' + frac / 10);
    out += static_cast<char>('0' + frac % 10);
    return out;
}

namespace {

struct Unit {
    std::uint64_t divisor;
    const char *name;
};

// n / divisor with two decimals, rounded half up, in integer arithmetic so that
// no value near a threshold is misrounded.
std::string scaled(std::uint64_t n, const Unit &unit, const NumberSeparators &seps)
{
    const unsigned __int128 h = (static_cast<unsigned __int128>(n) * 100 + unit.divisor / 2) / unit.divisor;
    std::string out = formatFixed2(static_cast<std::uint64_t>(h), seps);
    out += ' ';
    out += unit.name;
    return out;
}

template <std::size_t N>
std::string pick(std::uint64_t n, const Unit (&units)[N], const NumberSeparators &seps)
{
    for (std::size_t i = 0; i + 1 < N; ++i)
        if (n < units[i + 1].divisor)
            return scaled(n, units[i], seps);
    return scaled(n, units[N - 1], seps);
}

}  // namespace

std::string formatBytes(std::uint64_t n, const NumberSeparators &seps)
{
    static const Unit units[] = {{1, "B"}, {1024, "KB"}, {1048576, "MB"}, {1073741824, "GB"}};
    return pick(n, units, seps);
}

std::string formatBitRate(std::uint64_t n, const NumberSeparators &seps)
{
    static const Unit units[] = {{1, "bps"}, {1000, "Kbps"}, {1000000, "Mbps"}, {1000000000, "Gbps"}};
    return pick(n, units, seps);
}

std::string olahwaktu(std::uint64_t n)
{
    return std::to_string(n / 3600) + ':' + std::to_string((n % 3600) / 60) + ':' +
           std::to_string(n % 60);
}

std::optional<std::int64_t> parseDecimal(std::string_view text, std::int64_t min, std::int64_t max)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    // Accumulated towards the sign, so that the lowest int64 still fits.
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (negative ? value < (INT64_MIN + digit) / 10 : value > (INT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + (negative ? -digit : digit);
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

}  // namespace velora
