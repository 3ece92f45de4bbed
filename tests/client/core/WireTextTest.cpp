// The client's one conversion between wire bytes and shown or typed texts.
#include <gtest/gtest.h>

#include "client/core/WireText.h"

using namespace velora::client::core;

TEST(WireText, ConvertsAtTheEdgeAndKeepsSecretsWhole)
{
    // "Café" as Windows-1252 bytes.
    EXPECT_EQ(shownText("Caf\xE9"), QStringLiteral("Caf\u00e9"));
    EXPECT_EQ(wireText(QStringLiteral("Caf\u00e9")), "Caf\xE9");
    // A typed name cannot break a line's framing: separators, CR and LF go.
    EXPECT_EQ(wireText(QStringLiteral("a\u00e0b\u00e5c\r\nd")), "abcd");
    // A password travels enciphered: its separator characters stay.
    EXPECT_EQ(secretText(QStringLiteral("p\u00e0ss\r\n")), "p\xE0ss");
    EXPECT_EQ(wireText(QStringLiteral("\u20ac")), "\x80");
    EXPECT_EQ(wireText(QStringLiteral("\u4e2d")), "?");
}
