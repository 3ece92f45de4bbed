#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/FileIo.h"
#include "common/NumberFormat.h"
#include "support/TestFiles.h"

using namespace velora;
using velora::test::modeOf;
using velora::test::readFile;
using velora::test::TempDir;
using velora::test::writeFile;

namespace {

// Runs the body under another umask and puts the old one back.
template <typename F>
void underUmask(mode_t mask, F body)
{
    const mode_t old = ::umask(mask);
    body();
    ::umask(old);
}

}  // namespace

TEST(FileIo, ReadsOnlyRegularFilesAndNeverWaitsOnAPipe)
{
    TempDir dir;
    writeFile(dir.file("a"), std::string("x\0y\r\n", 5));
    int e = -1;
    EXPECT_EQ(readWholeFile(dir.file("a"), &e), std::string("x\0y\r\n", 5));
    EXPECT_EQ(e, 0);
    EXPECT_FALSE(readWholeFile(dir.file("none"), &e));
    EXPECT_EQ(e, ENOENT);
    EXPECT_FALSE(readWholeFile(dir.file("."), &e));
    EXPECT_EQ(e, EISDIR);
    // A FIFO without a writer would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readWholeFile(dir.file("fifo"), &e));
    EXPECT_EQ(e, EINVAL);
}

TEST(FileIo, ModesAreSetWhateverTheUmask)
{
    TempDir dir;
    underUmask(0, [&] {
        std::string why;
        ASSERT_TRUE(writeFileAtomically(dir.file("sub/new"), "1", WriteMode{}, &why)) << why;
        EXPECT_EQ(modeOf(dir.file("sub")), 0700u);
        EXPECT_EQ(modeOf(dir.file("sub/new")), 0600u);

        writeFile(dir.file("kept"), "old");
        ::chmod(dir.file("kept").c_str(), 0640);
        ASSERT_TRUE(writeFileAtomically(dir.file("kept"), "new", WriteMode{}, &why)) << why;
        EXPECT_EQ(readFile(dir.file("kept")), "new");
        EXPECT_EQ(modeOf(dir.file("kept")), 0640u);

        ASSERT_TRUE(writeFileAtomically(dir.file("kept"), "secret", WriteMode{0600, true}, &why)) << why;
        EXPECT_EQ(modeOf(dir.file("kept")), 0600u);
    });
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file(".")), {}), 2) << "no temporary file left";
}

TEST(FileIo, ALinkInThePlaceOfTheTargetIsReplacedNotFollowed)
{
    TempDir dir;
    writeFile(dir.file("victim"), "victim");
    ::chmod(dir.file("victim").c_str(), 0644);
    std::filesystem::create_symlink(dir.file("victim"), dir.file("target"));
    std::string why;
    ASSERT_TRUE(writeFileAtomically(dir.file("target"), "saved", WriteMode{}, &why)) << why;
    EXPECT_EQ(readFile(dir.file("victim")), "victim");
    EXPECT_EQ(modeOf(dir.file("victim")), 0644u);
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("target")));
    EXPECT_EQ(readFile(dir.file("target")), "saved");
    EXPECT_EQ(modeOf(dir.file("target")), 0600u);

    // A report opened and dropped leaves the old file as it was.
    AtomicFile dropped;
    ASSERT_TRUE(dropped.open(dir.file("target"), WriteMode{}, &why)) << why;
    dropped.write("half");
    dropped.discard();
    EXPECT_EQ(readFile(dir.file("target")), "saved");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file(".")), {}), 2);
}

TEST(StrictNumbers, OnlyWholeDecimalsInRange)
{
    EXPECT_EQ(parseDecimal("225", 1, 65535), 225);
    EXPECT_EQ(parseDecimal("-5", -10, 10), -5);
    EXPECT_EQ(parseDecimal("0007", 0, 10), 7);
    EXPECT_EQ(parseDecimal("-9223372036854775808", INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(parseDecimal("9223372036854775807", INT64_MIN, INT64_MAX), INT64_MAX);
    for (const char *bad : {"", "-", "2251abc", "0x8CA", "4294969546", "+5", " 5", "5 ", "1e3", "9223372036854775808",
                            "-9223372036854775809", "65536", "0"})
        EXPECT_FALSE(parseDecimal(bad, 1, 65535)) << bad;
}
