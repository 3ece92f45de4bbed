// Decrypt on arbitrary text never crashes; Encrypt then Decrypt gives back
// the input for any key.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/CredentialCipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    velora::Decrypt(text);
    const std::uint16_t key = size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 37163;
    if (velora::Decrypt(velora::Encrypt(text, key), key) != text)
        std::abort();
    return 0;
}
