#pragma once
// The byte-wise credential cipher shared by both programs: a password becomes
// decimal numbers, each followed by '-'.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velora {

inline constexpr std::uint16_t CredentialKey = 37163;

std::string Encrypt(std::string_view plain, std::uint16_t key = CredentialKey);

// std::nullopt when the text is not a run of decimal numbers each ended by '-'.
// Digits after the last '-' are ignored.
std::optional<std::string> Decrypt(std::string_view cipher, std::uint16_t key = CredentialKey);

}  // namespace velora
