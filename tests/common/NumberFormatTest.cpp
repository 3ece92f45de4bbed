#include <gtest/gtest.h>

#include "common/NumberFormat.h"

using namespace velora;

TEST(ByteFormat, Thresholds)
{
    EXPECT_EQ(formatBytes(0), "0.00 B");
    EXPECT_EQ(formatBytes(1023), "1,023.00 B");
    EXPECT_EQ(formatBytes(1024), "1.00 KB");
    EXPECT_EQ(formatBytes(1536), "1.50 KB");
    EXPECT_EQ(formatBytes(1048575), "1,024.00 KB");  // rounds up, still below the MB threshold
    EXPECT_EQ(formatBytes(1048576), "1.00 MB");
    EXPECT_EQ(formatBytes(1073741823), "1,024.00 MB");
    EXPECT_EQ(formatBytes(1073741824), "1.00 GB");
    EXPECT_EQ(formatBytes(4294967295u), "4.00 GB");
}

TEST(RateFormat, ThresholdsAndSeparators)
{
    EXPECT_EQ(formatBitRate(999), "999.00 bps");
    EXPECT_EQ(formatBitRate(1000), "1.00 Kbps");
    EXPECT_EQ(formatBitRate(56000), "56.00 Kbps");
    EXPECT_EQ(formatBitRate(115200), "115.20 Kbps");
    EXPECT_EQ(formatBitRate(999999), "1,000.00 Kbps");
    EXPECT_EQ(formatBitRate(1000000), "1.00 Mbps");
    EXPECT_EQ(formatBitRate(1000000000), "1.00 Gbps");
    EXPECT_EQ(formatBitRate(1234567890123ull), "1,234.57 Gbps");
    const NumberSeparators german{",", "."};
    EXPECT_EQ(formatBitRate(1234, german), "1,23 Kbps");
    EXPECT_EQ(formatBytes(1023, german), "1.023,00 B");
    EXPECT_EQ(formatFixed2(123456789, {".", "\xC2\xA0"}), "1\xC2\xA0" "234\xC2\xA0" "567.89");
}

TEST(Duration, UnpaddedHoursMinutesSeconds)
{
    EXPECT_EQ(olahwaktu(0), "0:0:0");
    EXPECT_EQ(olahwaktu(5), "0:0:5");
    EXPECT_EQ(olahwaktu(65), "0:1:5");
    EXPECT_EQ(olahwaktu(3600), "1:0:0");
    EXPECT_EQ(olahwaktu(3725), "1:2:5");
    EXPECT_EQ(olahwaktu(90061), "25:1:1");
}
