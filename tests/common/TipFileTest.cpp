#include <gtest/gtest.h>

#include <set>

#include "support/TestFiles.h"
#include "common/TipFile.h"

using namespace velora::test;

using namespace velora;
using Strings = std::vector<std::string>;

TEST(TipFile, LinesUpToEachHashMakeATip)
{
    EXPECT_EQ(parseTips("A\nB\n#\nC\n#\n"), (Strings{"A\nB\n", "C\n"}));
    EXPECT_EQ(parseTips("A\r\n\r\nB\r\n#\r\n"), Strings{"A\nB\n"});  // empty lines skipped
    EXPECT_EQ(parseTips("A\n#\nlost\nlost too"), Strings{"A\n"});     // after the last "#"
    EXPECT_EQ(parseTips("no hash at all\n"), Strings{});
    EXPECT_EQ(parseTips("#\n# \n#"), (Strings{"", "# \n"}));  // only an exact "#" ends a tip
    EXPECT_EQ(parseTips(""), Strings{});
}

TEST(TipFile, ReadingAFile)
{
    test::TempDir dir;
    EXPECT_EQ(readTipFile(dir.file("missing.cfg")), std::nullopt);
    test::writeFile(dir.file("tip.cfg"), "A\nB\n#\nC\n#\n");
    EXPECT_EQ(readTipFile(dir.file("tip.cfg")), (Strings{"A\nB\n", "C\n"}));
    // Windows-1252 letters are text; control bytes or an endless line are not,
    // and such a file gives way to the built-in tips like a missing one.
    test::writeFile(dir.file("tip.cfg"), "Caf\xE9\tbar\r\n#\r\n");
    EXPECT_EQ(readTipFile(dir.file("tip.cfg")), Strings{"Caf\xE9\tbar\n"});
    test::writeFile(dir.file("tip.cfg"), std::string("A\n#\n\x01\x9c\xff\0garbage", 15));
    EXPECT_EQ(readTipFile(dir.file("tip.cfg")), std::nullopt);
    test::writeFile(dir.file("tip.cfg"), std::string(5000, 'x') + "\n#\n");
    EXPECT_EQ(readTipFile(dir.file("tip.cfg")), std::nullopt);
}

TEST(TipList, NextAndPreviousWrap)
{
    TipList list({"A\n", "B\n", "C\n"});
    list.startRandom(1);
    list.next();
    list.next();
    list.next();  // three steps round a list of three come back
    const std::size_t start = list.currentIndex();
    list.previous();
    EXPECT_EQ(list.currentIndex(), (start + 2) % 3);

    TipList two({"A\n", "C\n"});
    two.startRandom(0);
    if (two.currentIndex() == 0)
        two.next();
    EXPECT_EQ(two.current(), "C\n");
    two.next();
    EXPECT_EQ(two.current(), "A\n");  // next from the last shows the first
    two.previous();
    EXPECT_EQ(two.current(), "C\n");  // previous from the first shows the last
}

TEST(TipList, RandomStartCoversTheListAndEmptyListIsQuiet)
{
    TipList list({"A\n", "B\n", "C\n", "D\n"});
    std::set<std::size_t> seen;
    for (std::uint64_t seed = 0; seed < 64; ++seed) {
        list.startRandom(seed);
        ASSERT_LT(list.currentIndex(), 4u);
        seen.insert(list.currentIndex());
    }
    EXPECT_EQ(seen.size(), 4u);

    TipList empty;
    empty.startRandom(3);
    empty.next();
    empty.previous();
    EXPECT_EQ(empty.current(), "");
}
