#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/TestFiles.h"
#include "common/IniProfile.h"

using namespace velora::test;

using velora::IniProfile;
using namespace velora::test;

TEST(IniProfile, MissingFileSectionOrKeyGivesTheDefault)
{
    TempDir dir;
    IniProfile missing(dir.file("none.ini"));
    EXPECT_EQ(missing.readString("server", "port", "225"), "225");
    EXPECT_EQ(missing.readInteger("server", "port", 225), 225);

    writeFile(dir.file("c.ini"), "[general]\nonlinestartup=0\n[server]\nport = 2250 \nempty=\n");
    IniProfile ini(dir.file("c.ini"));
    EXPECT_EQ(ini.readString("dial", "pingip", "127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(ini.readString("server", "nokey", "d"), "d");
    EXPECT_EQ(ini.readString("SERVER", "Port", "225"), "2250");  // names ignore case, value trimmed
    EXPECT_EQ(ini.readString("server", "empty", "d"), "");        // present but empty is not missing
    EXPECT_EQ(ini.readString("general", "onlinestartup", "1"), "0");
}

TEST(IniProfile, IntegerReads)
{
    TempDir dir;
    writeFile(dir.file("c.ini"),
              "[g]\na=abc\nb=12abc\nc=-3\nd= 9 \ne=99999999999\nf=\ng=\"7\"\n");
    IniProfile ini(dir.file("c.ini"));
    EXPECT_EQ(ini.readInteger("g", "a", 225), 225);
    EXPECT_EQ(ini.readInteger("g", "b", 225), 225);
    EXPECT_EQ(ini.readInteger("g", "c", 0), -3);
    EXPECT_EQ(ini.readInteger("g", "d", 0), 9);
    EXPECT_EQ(ini.readInteger("g", "e", 5), 5);
    EXPECT_EQ(ini.readInteger("g", "f", 5), 5);
    EXPECT_EQ(ini.readInteger("g", "g", 5), 7);  // quotes are stripped like the platform does
}

TEST(IniProfile, WriteCreatesFileAndSectionAndKeepsOtherLines)
{
    TempDir dir;
    const std::string path = dir.file("config/config.ini");
    IniProfile ini(path);
    ASSERT_TRUE(ini.writeString("server", "port", "225"));
    EXPECT_EQ(readFile(path), "[server]\nport=225\n");

    ASSERT_TRUE(ini.writeString("general", "winstart", "0"));
    ASSERT_TRUE(ini.writeString("server", "port", "abc"));
    EXPECT_EQ(readFile(path), "[server]\nport=abc\n[general]\nwinstart=0\n");

    // A hand-made file keeps its comments, blank lines, unknown keys and CR LF.
    const std::string hand =
        "; made by hand\r\n[schedule]\r\nduration=030\r\n\r\n[general]\r\nKeep = me \r\n"
        "shutdownmode=1\r\n\r\n[dial]\r\nkeepalive=1";
    writeFile(path, hand);
    ASSERT_TRUE(ini.writeString("general", "shutdownmode", "0"));
    ASSERT_TRUE(ini.writeString("general", "tipoftheday", "1"));
    ASSERT_TRUE(ini.writeString("dial", "pingip", "10.1.1.1"));
    EXPECT_EQ(readFile(path),
              "; made by hand\r\n[schedule]\r\nduration=030\r\n\r\n[general]\r\nKeep = me \r\n"
              "shutdownmode=0\r\ntipoftheday=1\r\n\r\n[dial]\r\nkeepalive=1\r\npingip=10.1.1.1\r\n");
    EXPECT_EQ(ini.readString("general", "keep", ""), "me");
}

TEST(IniProfile, WriteRefusesLineBreaksAndKeepsFileMode)
{
    TempDir dir;
    const std::string path = dir.file("c.ini");
    writeFile(path, "[a]\nk=v\n");
    ::chmod(path.c_str(), 0600);
    IniProfile ini(path);
    std::string why;
    EXPECT_FALSE(ini.writeString("a", "k", "x\ny", &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(readFile(path), "[a]\nk=v\n");
    ASSERT_TRUE(ini.writeString("a", "k", "w"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    IniProfile unwritable("/proc/velora-no/such.ini");
    EXPECT_FALSE(unwritable.writeString("a", "k", "v", &why));
}

TEST(IniProfile, ASnapshotKeepsTheFileAsItWasWhenTaken)
{
    TempDir dir;
    writeFile(dir.file("c.ini"), "[dial]\nICS=1\npingip=10.0.0.1\n");
    IniProfile ini(dir.file("c.ini"));
    const IniProfile then = ini.snapshot();
    writeFile(dir.file("c.ini"), "[dial]\nICS=0\n");
    EXPECT_EQ(then.readString("dial", "ICS", "0"), "1");
    EXPECT_EQ(then.readString("dial", "pingip", ""), "10.0.0.1");
    EXPECT_EQ(ini.readString("dial", "ICS", "1"), "0");
    EXPECT_EQ(IniProfile(dir.file("none.ini")).snapshot().readInteger("server", "port", 225), 225);
}
