#pragma once
// Byte counts, bit rates and durations as the windows show them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velora {

struct NumberSeparators {
    std::string decimal = ".";
    std::string thousands = ",";
};

// "#,##0.00" with the given separators, rounded half up.
std::string formatFixed2(std::uint64_t hundredths, const NumberSeparators &seps);

// B below 1024, KB below 1024², MB below 1024³, GB from there on.
std::string formatBytes(std::uint64_t n, const NumberSeparators &seps = {});

// bps below 1000, Kbps below 10⁶, Mbps below 10⁹, Gbps from there on.
std::string formatBitRate(std::uint64_t n, const NumberSeparators &seps = {});

// A whole decimal number from min to max: an optional "-" and digits,
// nothing else (no blanks, no "+", no "0x", no exponent). Anything else,
// and a number out of range, gives nothing.
std::optional<std::int64_t> parseDecimal(std::string_view text, std::int64_t min, std::int64_t max);

// Seconds as unpadded hours:minutes:seconds ("0:1:5"); hours are not capped.
std::string olahwaktu(std::uint64_t seconds);

}  // namespace velora
