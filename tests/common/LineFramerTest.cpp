#include <gtest/gtest.h>

#include "common/LineFramer.h"

using velora::LineFramer;
using Strings = std::vector<std::string>;

TEST(LineFramer, EndsLinesAtLfAndDropsOneCr)
{
    LineFramer f;
    Strings lines;
    EXPECT_TRUE(f.feed("a\r\nb\nc\r\r\n\r\n\npart", lines));
    EXPECT_EQ(lines, (Strings{"a", "b", "c\r", "", ""}));
    EXPECT_EQ(f.pendingBytes(), 4u);
}

TEST(LineFramer, LineSplitAcrossManyChunks)
{
    LineFramer f;
    Strings lines;
    const std::string wire = "connect\xE0host\xE0" "10.0.0.2\xE0\r\nstat\xE0\r\n";
    for (char c : wire)
        ASSERT_TRUE(f.feed(std::string_view(&c, 1), lines));
    EXPECT_EQ(lines, (Strings{"connect\xE0host\xE0" "10.0.0.2\xE0", "stat\xE0"}));
    // CR and LF in separate chunks.
    lines.clear();
    f.feed("x\r", lines);
    EXPECT_TRUE(lines.empty());
    f.feed("\n", lines);
    EXPECT_EQ(lines, Strings{"x"});
}

TEST(LineFramer, LongestLineIsAcceptedOneMoreIsAnError)
{
    const std::string max(LineFramer::MaxLineLength, 'x');
    for (const char *end : {"\r\n", "\n"}) {
        LineFramer f;
        Strings lines;
        EXPECT_TRUE(f.feed(max, lines));
        EXPECT_TRUE(f.feed(end, lines));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].size(), 16384u);
    }
    {
        LineFramer f;
        Strings lines;
        EXPECT_FALSE(f.feed(max + "x\r\n", lines));
        EXPECT_TRUE(lines.empty());
        EXPECT_TRUE(f.failed());
        EXPECT_FALSE(f.feed("ok\n", lines));  // stays failed
    }
    {
        // Detected before the LF arrives, so a peer cannot make us buffer forever.
        LineFramer f;
        Strings lines;
        EXPECT_TRUE(f.feed(max, lines));
        EXPECT_FALSE(f.feed("yy", lines));
        EXPECT_EQ(f.pendingBytes(), 0u);
    }
    {
        // 16384 bytes then a CR that is not followed by LF makes a longer line.
        LineFramer f;
        Strings lines;
        EXPECT_TRUE(f.feed(max + "\r", lines));
        EXPECT_FALSE(f.feed("z\n", lines));
    }
}
