// The strict number reader of config.ini agrees with a plain reference on
// any text and range: a whole decimal in range gives its value, anything
// else nothing.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "common/NumberFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The first sixteen bytes pick the range, the rest is the text.
    std::int64_t a = 0, b = 0;
    if (size >= 16) {
        std::memcpy(&a, data, 8);
        std::memcpy(&b, data + 8, 8);
        data += 16;
        size -= 16;
    } else {
        a = -1000;
        b = 70000;
    }
    const std::int64_t min = a < b ? a : b, max = a < b ? b : a;
    const std::string text(reinterpret_cast<const char *>(data), size);
    const auto got = velora::parseDecimal(text, min, max);

    const std::size_t digitsFrom = !text.empty() && text[0] == '-' ? 1 : 0;
    bool shaped = text.size() > digitsFrom && text.size() - digitsFrom <= 64;
    for (std::size_t i = digitsFrom; shaped && i < text.size(); ++i)
        shaped = text[i] >= '0' && text[i] <= '9';
    std::optional<std::int64_t> want;
    if (shaped) {
        errno = 0;
        const long long v = std::strtoll(text.c_str(), nullptr, 10);
        if (errno == 0 && v >= min && v <= max)
            want = v;
    }
    if (got != want)
        std::abort();
    return 0;
}
