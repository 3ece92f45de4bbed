#include "common/CredentialCipher.h"

namespace velora {

namespace {
std::uint16_t nextKey(std::uint16_t key, unsigned value)
{
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(key) + value) * 52845u + 22719u);
}
}  // namespace

std::string Encrypt(std::string_view plain, std::uint16_t key)
{
    std::string out;
    out.reserve(plain.size() * 4);
    for (const char ch : plain) {
        const unsigned c = (static_cast<unsigned char>(ch) ^ (key >> 8)) & 0xFFu;
        out += std::to_string(c);
        out += '-';
        key = nextKey(key, c);
    }
    return out;
}

std::optional<std::string> Decrypt(std::string_view cipher, std::uint16_t key)
{
    std::string out;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    bool malformed = false;  // a non-digit, or a value past the 32-bit range
    for (const char t : cipher) {
        if (t == '-') {
            if (digits == 0 || malformed)
                return std::nullopt;
            out += static_cast<char>((value ^ (key >> 8)) & 0xFFu);
            key = nextKey(key, static_cast<unsigned>(value & 0xFFFFu));
            value = 0;
            digits = 0;
        } else if (t >= '0' && t <= '9' && !malformed) {
            value = value * 10 + static_cast<unsigned>(t - '0');
            malformed = value > 0x7FFFFFFFu;
            ++digits;
        } else {
            // Only an error once a '-' closes it: text after the last '-' is ignored.
            malformed = true;
        }
    }
    return out;
}

}  // namespace velora
