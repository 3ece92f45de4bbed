#include <gtest/gtest.h>

#include "common/TextCodec.h"

using namespace velora;

TEST(TextCodec, Cp1252ToUtf8AndBack)
{
    EXPECT_EQ(cp1252ToUtf8("abc"), "abc");
    EXPECT_EQ(cp1252ToUtf8("\x80"), "\xE2\x82\xAC");   // euro sign
    EXPECT_EQ(cp1252ToUtf8("\xE0"), "\xC3\xA0");       // à
    EXPECT_EQ(cp1252ToUtf8("\x81"), "\xC2\x81");       // unassigned byte survives
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
}

TEST(TextCodec, Utf8ThatCp1252LacksBecomesQuestionMark)
{
    EXPECT_EQ(utf8ToCp1252("\xE2\x82\xAC 5"), "\x80 5");
    EXPECT_EQ(utf8ToCp1252("\xE4\xB8\xAD"), "?");        // a CJK character
    EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80x"), "?x");  // outside the BMP
    EXPECT_EQ(utf8ToCp1252("\xC3"), "?");                // truncated
    EXPECT_EQ(utf8ToCp1252("\xC0\xAF"), "??");           // overlong
    EXPECT_EQ(utf8ToCp1252("\xED\xA0\x80"), "???");      // surrogate
}

TEST(TextCodec, TypedTextLosesFramingBytes)
{
    EXPECT_EQ(sanitizeTyped("a\xE0" "b\xE2" "c\xE3" "d\xE4" "e\xE5" "f\r\ng\xE1"), "abcdefg\xE1");
    EXPECT_EQ(typedToWire("voil\xC3\xA0 caf\xC3\xA9\n"), "voil caf\xE9");
    EXPECT_EQ(trimBlanks(" \t x y \r\n"), "x y");
}
