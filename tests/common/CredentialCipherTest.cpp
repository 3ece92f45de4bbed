#include <gtest/gtest.h>

#include "common/CredentialCipher.h"

using velora::Decrypt;
using velora::Encrypt;

TEST(CredentialCipher, KnownVectors)
{
    EXPECT_EQ(Encrypt("a"), "240-");
    EXPECT_EQ(Encrypt("demo"), "245-53-210-81-");
    EXPECT_EQ(Encrypt("secret"), "226-155-234-238-253-78-");
    EXPECT_EQ(Encrypt(""), "");
    EXPECT_EQ(Decrypt("245-53-210-81-"), "demo");
    EXPECT_EQ(Decrypt(""), "");
}

TEST(CredentialCipher, RoundTripsEveryByteAndKey)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    all += all;  // longer than 255 bytes
    for (unsigned key : {0u, 1u, 37163u, 65535u}) {
        const std::string c = Encrypt(all, static_cast<std::uint16_t>(key));
        EXPECT_EQ(std::count(c.begin(), c.end(), '-'), 512);
        EXPECT_EQ(Decrypt(c, static_cast<std::uint16_t>(key)), all) << key;
    }
}

TEST(CredentialCipher, DecryptToleratesWhatTheFormAllowsAndRefusesTheRest)
{
    EXPECT_EQ(Decrypt("245-53"), "d");              // digits after the last '-' ignored
    EXPECT_EQ(Decrypt("245-trailing"), "d");        // so is any text there
    EXPECT_EQ(Decrypt("0245-053-210-81-"), "demo");  // leading zeros are the same number
    EXPECT_EQ(Decrypt("12a-"), std::nullopt);
    EXPECT_EQ(Decrypt("-"), std::nullopt);
    EXPECT_EQ(Decrypt("240--"), std::nullopt);
    EXPECT_EQ(Decrypt(" 240-"), std::nullopt);
    EXPECT_EQ(Decrypt("99999999999-"), std::nullopt);
    EXPECT_TRUE(Decrypt("300-").has_value());  // out of byte range still deciphers, as a number
}
